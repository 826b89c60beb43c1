// The search's window beside the main one.

#include "ui/search_dialog.h"

#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

namespace darq {
namespace {

// A wrapped text that needs more lines than the window first gave it must not lose its first and
// last line, while the search runs as in its summary.
TEST(SearchDialog, ShowsItsWholeWrappedTextWhileSearchingAndAfter) {
    SearchDialog dialog;
    dialog.show();
    dialog.showStarted(516);
    auto* status = dialog.findChild<QLabel*>();
    ASSERT_NE(status, nullptr);
    const struct {
        const char* name;
        std::function<void()> show;
    } states[] = {
        {"progress", [&] { dialog.showProgress(37, 516, 4800, 12, 123456); }},
        {"summary",
         [&] {
             dialog.showFinished(QStringLiteral(
                 "Only our own request came back at 9600, 4800, 2400 and 1200 Bd, as the "
                 "adapter echoes it: no instrument answered. Check the wiring, the instrument's "
                 "power and its address."));
         }},
    };
    for (const auto& state : states) {
        SCOPED_TRACE(state.name);
        state.show();
        // The window takes its new size from the event loop.
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return status->height() >= status->heightForWidth(status->width()); }, 2000))
            << status->height() << " pixels for " << status->heightForWidth(status->width());
    }
}

} // namespace
} // namespace darq
