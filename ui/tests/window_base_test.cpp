// The link between a window and its object: every message reaches the object while it lives,
// and none after it is gone, whichever of the two goes first.
#include "ui/window_base.h"

#include <gtest/gtest.h>

namespace qinglan {
namespace {

struct ProbeLog {
    bool object_alive = false;
    int messages_while_alive = 0;
    int messages_after_the_object = 0;
    int destroys_seen = 0;
};
ProbeLog g_log;

class ProbeWindow : public WindowBase<ProbeWindow> {
  public:
    ProbeWindow() { g_log.object_alive = true; }
    ~ProbeWindow() { g_log.object_alive = false; }

    bool create() {
        register_class(L"QinglanProbeWindow", nullptr, nullptr);
        return create_window(0, L"QinglanProbeWindow", L"probe", WS_OVERLAPPEDWINDOW,
                             {0, 0, 200, 100}, nullptr) != nullptr;
    }

    LRESULT handle_message(UINT message, WPARAM wparam, LPARAM lparam) {
        // Only the global log is touched: after the object is gone this must not be reached.
        ++(g_log.object_alive ? g_log.messages_while_alive : g_log.messages_after_the_object);
        if (message == WM_DESTROY) {
            ++g_log.destroys_seen;
        }
        return default_handling(message, wparam, lparam);
    }
};

TEST(WindowBase, NoMessageReachesAnObjectThatIsGone) {
    g_log = {};
    HWND window = nullptr;
    {
        ProbeWindow probe;
        ASSERT_TRUE(probe.create());
        window = probe.handle();
        ShowWindow(window, SW_SHOWNORMAL);
        EXPECT_GT(g_log.messages_while_alive, 0);
    }  // the window still exists when its object goes
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(g_log.messages_after_the_object, 0);
}

TEST(WindowBase, AWindowDestroyedFirstIsSeenByItsObjectAndNotDestroyedAgain) {
    g_log = {};
    {
        ProbeWindow probe;
        ASSERT_TRUE(probe.create());
        const HWND window = probe.handle();
        DestroyWindow(window);
        EXPECT_EQ(g_log.destroys_seen, 1);
        EXPECT_EQ(probe.handle(), nullptr);
        EXPECT_FALSE(IsWindow(window));
    }
    EXPECT_EQ(g_log.messages_after_the_object, 0);
}

}  // namespace
}  // namespace qinglan
