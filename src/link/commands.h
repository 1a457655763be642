// The display's command frames outside the file transfer: framed commands on
// CmdPort (02 07 ..., 02 43, 02 42) and text commands on TextPort.
//
// Every command returns its outcome (link/status.h): ok with "OK", or a failure code
// with the text to show the user (the command's own text, or the port's).
//
// Port rules:
// - "opens CmdPort": the command opens CmdPort with PortName/BaudRate when it is
//   closed (an open failure returns at once with the open message and sends nothing)
//   and closes CmdPort before it returns, whatever happened, also when the caller
//   had it open before.
// - "needs CmdPort open": the command does not open, expects CmdPort open and
//   leaves it open (used by the transfers, which hold the port across steps).
// - Text commands open TextPort when it is closed, write one frame, close TextPort.
//
// Waits: the time is noted right after the command's initial pause; a wait ends in
// time-out at the first check at which the elapsed time exceeds the limit (a time
// equal to the limit still waits). A line that hangs up ends a wait at once with
// the port's hang-up message (HungUp). A write that fails returns PortError with the
// port's message (HungUp when the line went away, Cancelled when the job was).
#pragma once

#include "link/link.h"
#include "link/status.h"
#include "util/bytes.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tarsel {

// ---------------------------------------------------------------------------
// Waiting

// Elapsed time of a wait, measured from construction (right after the initial
// pause). Times are compared at microsecond resolution, so an elapsed time equal to
// the limit is not taken as past it because of rounding.
class WaitTimer {
public:
    explicit WaitTimer(Clock& clock) : m_clock(clock), m_start(clock.nowMs()) {}
    double elapsedMs() const { return m_clock.nowMs() - m_start; }
    bool pastLimit(double limitMs) const;
    // Time left until the limit (0 when reached).
    double remainingMs(double limitMs) const;

private:
    Clock& m_clock;
    double m_start;
};

// What the answer received so far amounts to.
enum class Verdict {
    Incomplete,  // wait for more
    Complete,    // the answer is whole (the caller checks what it says)
    RetryNow,    // bytes were dropped; read again without the poll pause
};

// How a command waits for its answer. Every answer the program waits for goes through
// AwaitAnswer with one of these; the commands differ only in the policy they pass.
struct AnswerPolicy {
    const char* timeOutText = "Time out !"; // the text of a wait that passed its limit
    double pauseMs = 0;          // after the write, before the time is noted
    double limitMs = 0;          // a time-out at the first check past it (equal still waits)
    double pollPauseMs = 0;      // pause between reads while incomplete; 0: read again at
                                 // once, sleeping on the port while nothing is waiting
    bool emptyReadEnds = false;  // a read that brings nothing ends the wait ("Failed to read data")
    bool singleRead = false;     // exactly one read after the pause, no limit
    // Judges the answer after every read (also one that brought nothing); may drop
    // bytes it does not want.
    std::function<Verdict(Bytes& answer)> judge;
    // Called before every read (the firmware loader's sync writes again).
    std::function<void()> beforeRead;
};

// The one wait: pause, note the time, then read and append to `answer` until the
// policy's judge calls it complete (ok), the limit passes (TimedOut with the policy's
// text), a read brings nothing when the policy says that ends it (TimedOut with the
// port's text, "Failed to read data"), the line hangs up (HungUp with the port's
// text) or the job is cancelled (Cancelled, kCancelledText). An answer is taken the
// moment it arrives.
Status AwaitAnswer(Link& link, SerialPort& port, const AnswerPolicy& policy, Bytes& answer);

// The outcome of a write that failed on `port`: Cancelled when the job was
// cancelled, HungUp when the line went away, else PortError with the port's text.
Status WriteFailure(const Link& link, const SerialPort& port, const std::string& message);

// Judges for the common answers.
Verdict AnswerEndsWith(const Bytes& answer, char last);
Verdict AnswerHasAtLeast(const Bytes& answer, std::size_t count);

// ---------------------------------------------------------------------------
// Model query: 02 07 16 01, answered by a model name followed by 0x00.

inline constexpr double kModelQueryPauseMs = 100;      // after the write
inline constexpr double kDetectModelLimitMs = 86.4;    // 100 units of 0.864 ms
inline constexpr double kProbeModelLimitMs = 172.8;    // 200 units

// Opens CmdPort. Ok with the model index 0..6 in `modelIndex`; otherwise -1 there and
// Refused "Unknown model !" (the name it gave, without its 00, in `answeredName` when
// given), TimedOut "Not found Device : Time out !", or the open / write / hang-up
// outcome. Traces the answer.
Status DetectModel(Link& link, int& modelIndex, Bytes* answeredName = nullptr);

// Needs CmdPort open. Ok when a known model answers. TimedOut with "Failed to read
// data" when nothing has arrived after the pause or "Not found Device : Time out !",
// Refused "Unknown model !", or the write's outcome. Traces frame and answer.
Status ProbeModel(Link& link);

inline constexpr int kDeviceReadyAttempts = 51;
inline constexpr double kDeviceReadyPauseMs = 100;     // after every probe

// Probes up to 51 times, 100 ms apart, until the display answers. keepOpen false:
// opens CmdPort if closed and closes it at the end; keepOpen true: needs CmdPort
// open and leaves it open. Ok, or the last probe's message with NoDisplay when no
// probe was answered in time (Refused for an unknown model, or the port's outcome).
// A silent display costs about 51 × 200 ms.
Status WaitDeviceReady(Link& link, bool keepOpen);

// ---------------------------------------------------------------------------
// Version: 02 07 16 02, opens CmdPort; pause 100 ms, one read. The answer's bytes
// read as one hexadecimal number (0C -> 12, 00 0D -> 13) in `version`; 0 there and
// TimedOut "Read Version Error !" when nothing arrived.

inline constexpr double kReadVersionPauseMs = 100;
Status ReadVersion(Link& link, int& version);

// ---------------------------------------------------------------------------
// Settings document: 02 07 16 05, opens CmdPort; pause 100 ms, then read until the
// answer ends with 0x00. `reply` gets every byte received including the final 0x00
// (the caller converts it with the host code page). On time-out `reply` is empty and
// the outcome TimedOut "Get configuration: Time out !".

inline constexpr double kGetConfigurationPauseMs = 100;
inline constexpr double kGetConfigurationLimitMs = 1296;  // 1500 units
Status GetConfiguration(Link& link, Bytes& reply);

// ---------------------------------------------------------------------------
// Write-only framed commands (open CmdPort; the outcome is the write's).
// Every text of a text frame here and below (line texts, main text, QR texts, test
// texts) goes out as PlainDisplayText: cut at its first 00, control bytes as "?".

// 02 07 16 06, text, 00: welcome message line 1.
Status SetLine1Text(Link& link, const Bytes& text);
// 02 07 16 07, text, 00: welcome message line 2.
Status SetLine2Text(Link& link, const Bytes& text);
// 02 07 16 09, flags: flag byte of the welcome message.
Status SetLineFlags(Link& link, std::uint8_t flags);
// 02 07 18, text (no terminator): the main-text lines joined. The display ends the
// frame only when the line falls quiet, so whatever follows at once would become part
// of its main text: the command waits until the frame has left the line and then
// keeps the line quiet for kMainTextQuietMs before it returns.
inline constexpr double kMainTextQuietMs = 500;
Status SetMainText(Link& link, const Bytes& text);
// 02 07 1A nn: show picture 1..10.
Status ShowPicture(Link& link, std::uint8_t number);
// 02 07 28, mask as 2 big-endian bytes: bit k-1 set when picture k is played.
Status SetPlayList(Link& link, std::uint16_t mask);
// 02 07 1C, standby time 0..120 as 1 big-endian byte.
Status SetStandbyTime(Link& link, int standbyTime);
// 02 07 1B, play interval 1..10 as 1 big-endian byte.
Status SetPlayInterval(Link& link, int interval);
// 02 07 05 00.
Status FormatStorage(Link& link);
// 02 07 1D, align (1 left, 2 centre, 3 right), slot, text, 00.
Status ShowQrCode(Link& link, std::uint8_t align, std::uint8_t slot, const Bytes& text);
// 02 07 1E, align, picture number 1..10, text, 00.
Status ShowQrCodeAt(Link& link, std::uint8_t align, std::uint8_t picture, const Bytes& text);
// 02 43, the command-set index in decimal digits.
Status SetCommandSet(Link& link, int index);
// 02 42, the baud code 0..4 in decimal digits (0 = 9600 ... 4 = 115200). Returns
// once the frame has left the line (the display then runs at the new speed).
Status SetDeviceBaud(Link& link, int code);

// ---------------------------------------------------------------------------
// Echoed commands: the display sends the frame back.

enum class ColorArea { Header, MainText, Footer };

inline constexpr double kEchoPauseMs = 500;        // after the write
inline constexpr double kEchoPollMs = 100;         // between reads
inline constexpr double kEchoLimitMs = 1728;       // 2000 units

// 02 07 cc R G B (cc 0B header, 0E main text, 10 footer); colour 0x00BBGGRR.
// Ok / Refused "Set TextColor Error!" / TimedOut "Set TextColor Error : Time out !".
Status SetTextColor(Link& link, ColorArea area, std::uint32_t color);
// 02 07 cc R G B (cc 0C header, 0F main text, 11 footer).
// Ok / Refused "Set BackgroudColor Error!" / TimedOut "Set BackgroudColor Error : Time out !".
Status SetBackColor(Link& link, ColorArea area, std::uint32_t color);

enum TitleMode : std::uint8_t { kTitleShowsText = 0x0A, kTitleShowsPicture = 0x09 };
// 02 07 mm. Ok / Refused "Set Title mode Error!" / TimedOut "Set Title mode Error : Time out !".
Status SetTitleMode(Link& link, std::uint8_t mode);

inline constexpr double kMainTextLinesPauseMs = 500;
// 02 07 14 nn (1 = two lines, 2 = four lines); pause 500 ms, one read; ok when the
// answer equals the frame, else "Set Main Text Lines Error!" (TimedOut when nothing
// came, Refused when it differs).
Status SetMainTextLines(Link& link, std::uint8_t lineMode);

// ---------------------------------------------------------------------------
// Line speed (needs CmdPort open).

// 02 07 04, speed as 4 big-endian bytes (115200 -> 00 01 C2 00). Traces the frame.
// PortError "Serial Port Not Opened!" when CmdPort is closed, or the write's outcome.
Status SwitchDeviceBaud(Link& link, int baud);

inline constexpr double kLocalSpeedSettleMs = 100;
// The longest the PC waits for a command frame to leave the line before it changes
// its own speed.
inline constexpr double kFrameDrainLimitMs = 1000;
// The transfers' speed switch: SwitchDeviceBaud(baud), wait until the frame has left
// the line, pause devicePauseMs, set the local speed of CmdPort to `baud`, pause
// 100 ms. The local speed is set also when the frame failed. The outcome: ok; the
// frame's failure; PortError "could not set <baud> bit/s on <port>: <reason>" when
// the PC's side refused the speed (the display has switched already); Cancelled (once
// the frame is out, the switch is still completed first: the rest of the pause and the
// PC's speed, so that the display can be spoken to at its new speed).
Status SwitchLineSpeed(Link& link, int baud, double devicePauseMs);
// The message of a local speed change that failed.
std::string SpeedChangeFailedText(const Link& link, int baud, const std::string& reason);

// ---------------------------------------------------------------------------
// QR code picture (needs CmdPort open): 02 07 19 align slot, the picture bytes in
// pieces of 256, then 02 07 19 00.

inline constexpr int kQrPictureSize = 192;           // pixels, square
inline constexpr std::size_t kQrPieceSize = 256;
inline constexpr double kQrStepPauseMs = 100;        // before header, data, trailer
inline constexpr double kQrFinishPauseMs = 1000;     // after the trailer

enum QrPictureCode : std::uint8_t {
    kQrOk = 0,
    kQrPortClosed = 0x0D,      // 13
    kQrHeaderWriteFailed = 0x10, // 16
    kQrDataWriteFailed = 0x11, // 17
    kQrTrailerWriteFailed = 0x12, // 18
    kQrConversionFailed = 0x13, // 19
    kQrFileMissing = 0x15,     // 21
    kQrCancelled = 0x16,       // 22: the job was cancelled
};

// Turns an image file into one bit per pixel at width × height (empty on failure).
using OneBitConverter = std::function<Bytes(const std::string& file, int width, int height)>;

// The writes of the picture bytes: count/256 + 1 pieces, so a count that is a
// multiple of 256 ends with an empty piece (4608 bytes -> 18 full pieces + 1 empty).
std::vector<Bytes> SplitQrPicture(const Bytes& picture);

// The picture code in `code`: 21 file missing (nothing written), 13 CmdPort closed,
// 19 conversion gave nothing, 16 header write failed, 17 a picture piece failed,
// 18 trailer write failed, 22 cancelled, 0 done. An empty piece is counted but not
// written. The outcome: ok; BadInput (21, 19), PortError or HungUp (13, 16..18),
// Cancelled (22); its text is "Error：" followed by the code. A job cancelled while
// the picture goes out still ends the upload with the trailer (after a pause), so
// that the display does not take the frames that follow for picture bytes.
Status SendQrPicture(Link& link, const std::string& file, std::uint8_t align, std::uint8_t slot,
                     const OneBitConverter& toOneBitPerPixel, std::uint8_t& code);
// "Error：" followed by the code in decimal.
std::string QrPictureErrorText(int code);

// ---------------------------------------------------------------------------
// Text commands on TextPort (no answer, no trace; the outcome is the write's).

// 02 1D AA 55.
Status RestartDisplay(Link& link);
// 02 07 15 27 27.
Status FactoryReset(Link& link);
// 0C.
Status ClearDisplay(Link& link);

inline constexpr std::size_t kTextMaxBytes = 40;
// The first 40 bytes of the text.
Status SendText(Link& link, const Bytes& text);
// 1F 24 column row, then the first 40 bytes of the text (column 1..20, row 1..2).
Status SendTextAt(Link& link, int column, int row, const Bytes& text);
// 1F 58 nn with nn clamped to 1..4.
Status SetBrightness(Link& link, int level);
// 02 06 nn: code page id.
Status SetCodePage(Link& link, std::uint8_t codePageId);
// 02 05 nn: international character set id.
Status SetInterChar(Link& link, std::uint8_t interCharId);
// The bytes as given (the code page test patterns).
Status SendRaw(Link& link, const Bytes& bytes);

} // namespace tarsel
