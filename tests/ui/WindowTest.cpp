#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QWidget>
#include <atomic>
#include <thread>
#include <vector>

#include "platform/ui/Window.h"

namespace {

struct Message {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

TEST(Window, PostedMessagesArriveInOrderOnTheInterfaceThread) {
  std::vector<Message> received;
  std::thread::id handlerThread;
  HWND window = reel::CreateMessageWindow([&](HWND, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
    if (message != WM_USER + 5) return 0;
    handlerThread = std::this_thread::get_id();
    received.push_back({message, wParam, lParam});
    return 0;
  });
  ASSERT_TRUE(IsWindow(window));
  std::thread poster([&] {
    for (int index = 0; index < 100; ++index) EXPECT_TRUE(PostMessageA(window, WM_USER + 5, index, -index));
  });
  poster.join();
  ASSERT_TRUE(reel::RunMessageLoopUntil([&] { return received.size() == 100; }, 5000));
  for (int index = 0; index < 100; ++index) {
    EXPECT_EQ(received[index].wParam, static_cast<WPARAM>(index));
    EXPECT_EQ(received[index].lParam, -index);
  }
  EXPECT_EQ(handlerThread, std::this_thread::get_id());
  EXPECT_TRUE(DestroyWindow(window));
  EXPECT_FALSE(IsWindow(window));
  EXPECT_FALSE(PostMessageA(window, WM_USER, 0, 0));
  EXPECT_FALSE(DestroyWindow(window));
}

TEST(Window, MessagesForADestroyedWindowAreDropped) {
  int calls = 0;
  HWND window = reel::CreateMessageWindow([&](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
    if (message == WM_USER) ++calls;
    return 0;
  });
  PostMessageA(window, WM_USER, 0, 0);
  DestroyWindow(window);
  reel::RunMessageLoopUntil([] { return false; }, 50);
  EXPECT_EQ(calls, 0);
}

TEST(Window, SendMessageFromAnotherThreadWaitsForTheAnswer) {
  HWND window = reel::CreateMessageWindow([](HWND, UINT message, WPARAM wParam, LPARAM) -> LRESULT {
    return message == WM_USER ? static_cast<LRESULT>(wParam * 3) : 0;
  });
  EXPECT_EQ(SendMessageA(window, WM_USER, 4, 0), 12);
  std::atomic<LRESULT> answer{0};
  std::atomic<bool> done{false};
  std::thread caller([&] {
    answer = SendMessageA(window, WM_USER, 7, 0);
    done = true;
  });
  ASSERT_TRUE(reel::RunMessageLoopUntil([&] { return done.load(); }, 5000));
  caller.join();
  EXPECT_EQ(answer.load(), 21);
  DestroyWindow(window);
}

TEST(Window, TimersTickUntilKilledAndRespectTheMinimum) {
  std::vector<UINT_PTR> ticks;
  HWND window = reel::CreateMessageWindow([&](HWND, UINT message, WPARAM wParam, LPARAM) -> LRESULT {
    if (message == WM_TIMER) ticks.push_back(wParam);
    return 0;
  });
  EXPECT_EQ(SetTimer(window, 8, 0, nullptr), 8u);  // raised to the 10 ms minimum
  QElapsedTimer elapsed;
  elapsed.start();
  ASSERT_TRUE(reel::RunMessageLoopUntil([&] { return ticks.size() >= 5; }, 5000));
  EXPECT_GE(elapsed.elapsed(), 40);
  for (UINT_PTR id : ticks) EXPECT_EQ(id, 8u);
  EXPECT_TRUE(KillTimer(window, 8));
  EXPECT_FALSE(KillTimer(window, 8));
  std::size_t count = ticks.size();
  reel::RunMessageLoopUntil([] { return false; }, 60);
  EXPECT_EQ(ticks.size(), count);
  EXPECT_EQ(SetTimer(reinterpret_cast<HWND>(0x1234), 1, 10, nullptr), 0u);
  DestroyWindow(window);
}

TEST(Window, WidgetsGetHandles) {
  reel::EnsureApplication();
  auto* widget = new QWidget;
  widget->resize(320, 200);
  HWND window = reel::RegisterWindow(widget, nullptr);
  EXPECT_EQ(reel::WidgetFromHandle(window), widget);
  RECT client{};
  ASSERT_TRUE(GetClientRect(window, &client));
  EXPECT_EQ(client.right, 320);
  EXPECT_EQ(client.bottom, 200);
  EXPECT_TRUE(InvalidateRect(window, nullptr, TRUE));
  delete widget;  // the handle dies with its widget
  EXPECT_FALSE(IsWindow(window));
}

TEST(Window, LoopGivesUpAtTheTimeout) {
  QElapsedTimer elapsed;
  elapsed.start();
  EXPECT_FALSE(reel::RunMessageLoopUntil([] { return false; }, 100));
  EXPECT_GE(elapsed.elapsed(), 100);
  EXPECT_LT(elapsed.elapsed(), 2000);
}

}  // namespace
