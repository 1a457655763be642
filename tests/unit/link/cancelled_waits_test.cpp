// A cancel ends a wait for the display's answer at once; the answer still comes, and the
// next command must get its own answer rather than the one left on its way.
#include "link/cancel.h"
#include "link/commands.h"
#include "link/models.h"
#include "support/virtual_link.h"

#include <memory>

namespace tarsel::test {
namespace {

class CancelledWait : public VirtualLinkTest {
protected:
    CancelledWait() : VirtualLinkTest(displayConfig("KT710-II", 9600)) {}

    // Runs `command` with a cancel `afterMs` into it, then the model query at once.
    template <class F>
    void cancelThenDetect(double afterMs, F command)
    {
        auto token = std::make_shared<CancelToken>();
        link.setCancel(token.get());
        line.at(line.nowMs() + afterMs, [token] { token->cancel(); });
        const Status cut = command();
        link.setCancel(nullptr);
        EXPECT_EQ(cut.code, Code::Cancelled) << cut;
        int model = -1;
        const Status found = DetectModel(link, model);
        EXPECT_EQ(found.code, Code::Ok) << found;
        EXPECT_EQ(model, FindModel("KT710-II"));
    }
};

TEST_F(CancelledWait, TheSettingsOnTheirWayDoNotAnswerTheNextQuery)
{
    // At 9600 the settings document takes about half a second to come: cancelled before
    // it starts, in its middle, and just before its end.
    Bytes whole;
    const double start = line.nowMs();
    ASSERT_TRUE(GetConfiguration(link, whole));
    const double takes = line.nowMs() - start;
    ASSERT_GT(takes, 300);
    for (double at : {30.0, takes / 2, takes - 5}) {
        SCOPED_TRACE(at);
        cancelThenDetect(at, [&] {
            Bytes reply;
            return GetConfiguration(link, reply);
        });
    }
}

TEST_F(CancelledWait, AnEchoOnItsWayDoesNotAnswerTheNextQuery)
{
    for (double at : {2.0, 8.0, 14.0}) {
        SCOPED_TRACE(at);
        cancelThenDetect(at, [&] { return SetTextColor(link, ColorArea::Header, 0x123456); });
    }
}

} // namespace
} // namespace tarsel::test
