// Opening the handle slots, the open-error texts, and the model table.
#include "link/models.h"
#include "link/ports.h"
#include "link/commands.h"
#include "commands_fixture.h"

namespace tarsel::test {
namespace {

TEST(ComErrorText, EnglishAndChineseTextsWithLeadingBlankAndExclamationMark)
{
    struct Case { int code; const char* english; const char* chinese; };
    const Case cases[] = {
        {0, " This serial port already opened!", " 此串口已经打开!"},
        {1, " OK!", " OK!"},
        {2, " Error opening serial port!", " 打开串口出错，此串口不存在或被占用!"},
        {3, " Cannot setup comm buffer!", " 初始化缓冲区出错!"},
        {4, " Unable to create event!", " 无法创建事件!"},
        {5, "  Unknown Error 5!", "  未知错误 5!"},
        {-7, "  Unknown Error -7!", "  未知错误 -7!"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(ComErrorText(c.code, "", 1033), c.english);
        EXPECT_EQ(ComErrorText(c.code, "", 2052), c.chinese);
        EXPECT_EQ(ComErrorText(c.code, "", 1028), c.english);  // only 2052 selects Chinese
    }
    EXPECT_EQ(ComErrorText(2, "COM3:", 1033), "COM3: Error opening serial port!");
}

class PortsTest : public LinkTest {};

TEST_F(PortsTest, OpenCmdPortStatuses)
{
    EXPECT_EQ(OpenCmdPort(link), Status::success());
    EXPECT_TRUE(cmd.isOpen());
    EXPECT_EQ(line.openBauds, std::vector<int>{38400});
    EXPECT_EQ(cmd.openedNames, std::vector<std::string>{"/dev/ttyFAKE0"});

    // Already open: the code-0 text; the slot keeps its handle.
    EXPECT_EQ(OpenCmdPort(link), Status::failure(Code::PortError, " This serial port already opened!"));
    EXPECT_TRUE(cmd.isOpen());

    EXPECT_TRUE(CloseCmdPort(link));
    EXPECT_FALSE(cmd.isOpen());
    EXPECT_TRUE(CloseCmdPort(link));  // closing a closed slot does nothing
}

TEST_F(PortsTest, EmptyPortNameIsStatus2WithoutAnOpenAttempt)
{
    link.PortName.clear();
    link.SysLangId = 2052;
    EXPECT_EQ(OpenTextPort(link), Status::failure(Code::PortError, " 打开串口出错，此串口不存在或被占用!"));
    EXPECT_TRUE(text.openedNames.empty());
    EXPECT_FALSE(text.isOpen());
}

TEST_F(PortsTest, TextPortWhileCmdPortIsOpenFailsWithCode2AndCmdPortStaysUsable)
{
    ASSERT_TRUE(OpenCmdPort(link));
    EXPECT_EQ(OpenTextPort(link), Status::failure(Code::PortError, " Error opening serial port!"));
    EXPECT_FALSE(text.isOpen());
    EXPECT_TRUE(cmd.isOpen());

    line.onWrite = [](FakeLine& l, const Bytes&) { l.answer(Bytes("KT710-II", 8) + '\0', 10); };
    EXPECT_TRUE(ProbeModel(link));
    EXPECT_TRUE(CloseTextPort(link));  // closing the other slot leaves CmdPort alone
    EXPECT_TRUE(cmd.isOpen());

    CloseCmdPort(link);
    EXPECT_TRUE(OpenTextPort(link));
}

TEST_F(PortsTest, PermissionRefusalNamesTheDialoutGroup)
{
    line.permissionDenied = true;
    const Status refused = OpenCmdPort(link);
    EXPECT_EQ(refused.code, Code::PortError);
    const std::string& message = refused.text;
    const std::string first = " Error opening serial port!\n";
    ASSERT_EQ(message.substr(0, first.size()), first);
    EXPECT_NE(message.find("dialout"), std::string::npos);
    EXPECT_EQ(message.find('\n', first.size()), std::string::npos);  // exactly two lines

    // The same hint reaches the user through a command.
    Status st;
    EXPECT_EQ(detect(link, st), -1);
    EXPECT_NE(st.text.find("dialout"), std::string::npos);

    line.permissionDenied = false;
    line.failOpen = true;  // busy or missing: no hint
    EXPECT_EQ(OpenCmdPort(link), Status::failure(Code::PortError, " Error opening serial port!"));
}

// ---------------------------------------------------------------------------

TEST(Models, ExactNamesInComboOrder)
{
    const char* expected[] = {"KT310--IIA", "KT310--IIB", "KT310--IIC", "KT310-IID", "KT710--II", "KT310-II", "KT710-II"};
    ASSERT_EQ(ModelList.size(), 7u);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(ModelList[static_cast<std::size_t>(i)], expected[i]);
        EXPECT_EQ(FindModel(expected[i]), i);
        EXPECT_EQ(ModelName(i), expected[i]);
    }
    EXPECT_EQ(FindModel("kt710-ii"), -1);
    EXPECT_EQ(FindModel("KT710-II "), -1);
    EXPECT_EQ(FindModel(Bytes("KT710-II\0", 9)), -1);
    EXPECT_EQ(FindModel("KT310-IIA"), -1);  // one dash: not the IIA
    EXPECT_EQ(FindModel(""), -1);
    EXPECT_EQ(ModelName(7), "");
    EXPECT_EQ(ModelName(-1), "");
}

TEST(Models, FeatureTable)
{
    struct Row { int w, h; bool namedFiles, slot86, picNo, firmware, qrPicture; };
    const Row rows[] = {
        {480, 272, false, false, false, false, true},
        {480, 272, false, false, true, false, false},
        {800, 480, false, false, false, false, true},
        {800, 480, true, true, true, true, false},
        {800, 480, false, false, false, false, true},
        {800, 480, true, true, true, true, false},
        {800, 480, true, true, true, true, false},
    };
    for (int i = 0; i < 7; ++i) {
        SCOPED_TRACE(i);
        const Row& r = rows[i];
        EXPECT_EQ(ScreenSizeForModel(i).width, r.w);
        EXPECT_EQ(ScreenSizeForModel(i).height, r.h);
        EXPECT_EQ(IsNamedFileModel(i), r.namedFiles);
        EXPECT_EQ(HasSlot86(i), r.slot86);
        EXPECT_EQ(HasPictureNumberControls(i), r.picNo);
        EXPECT_EQ(ChecksFirmwareVersion(i), r.firmware);
        EXPECT_EQ(QrFromPictureFile(i), r.qrPicture);
    }
    EXPECT_EQ(kLatestFirmwareVersion, 12);
    EXPECT_EQ(kBaudCandidates, (std::array<int, 5>{9600, 19200, 38400, 57600, 115200}));
}

} // namespace
} // namespace tarsel::test
