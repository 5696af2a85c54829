// Two copies of the real program on one program folder (ALLOWDUP), on the private X server: what
// one changes, the other's close does not write back over.
#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "common/private_x_server.h"
#include "common/x11_other_program.h"
#include "mainwin/run_program.h"
#include "platform/ini_file.h"

namespace {

using Reply = std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)>;

Reply Property(xcb_connection_t* c, xcb_window_t w, const char* name, xcb_atom_t type, uint32_t longs = 1024) {
  return Reply(xcb_get_property_reply(c, xcb_get_property(c, 0, w, XAtom(c, name), type, 0, longs), nullptr), &std::free);
}

// The managed window of that process whose title holds the text; 0 when there is none.
xcb_window_t WindowOf(xcb_connection_t* c, pid_t pid, const std::string& title) {
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
  Reply list = Property(c, root, "_NET_CLIENT_LIST", XCB_ATOM_WINDOW);
  if (!list) return 0;
  const auto* windows = static_cast<const xcb_window_t*>(xcb_get_property_value(list.get()));
  const int count = xcb_get_property_value_length(list.get()) / 4;
  for (int i = 0; i < count; ++i) {
    Reply owner = Property(c, windows[i], "_NET_WM_PID", XCB_ATOM_CARDINAL);
    if (!owner || xcb_get_property_value_length(owner.get()) != 4 ||
        *static_cast<const uint32_t*>(xcb_get_property_value(owner.get())) != static_cast<uint32_t>(pid))
      continue;
    Reply name = Property(c, windows[i], "_NET_WM_NAME", XAtom(c, "UTF8_STRING"));
    if (name && std::string(static_cast<const char*>(xcb_get_property_value(name.get())),
                            static_cast<size_t>(xcb_get_property_value_length(name.get())))
                        .find(title) != std::string::npos)
      return windows[i];
  }
  return 0;
}

xcb_window_t WaitForWindow(xcb_connection_t* c, pid_t pid, const std::string& title) {
  for (int i = 0; i < 500; ++i) {
    if (const xcb_window_t w = WindowOf(c, pid, title)) return w;
    if (WaitExit(pid, 0) != -1) return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return 0;
}

// A key typed into the window, as the keyboard gives it (press and release), with modifiers.
void TypeKey(xcb_connection_t* c, xcb_window_t w, uint32_t keysym, uint16_t modifiers = 0) {
  const xcb_setup_t* setup = xcb_get_setup(c);
  const uint8_t first = setup->min_keycode, count = static_cast<uint8_t>(setup->max_keycode - setup->min_keycode + 1);
  std::unique_ptr<xcb_get_keyboard_mapping_reply_t, decltype(&std::free)> map(
      xcb_get_keyboard_mapping_reply(c, xcb_get_keyboard_mapping(c, first, count), nullptr), &std::free);
  ASSERT_TRUE(map);
  const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map.get());
  xcb_keycode_t code = 0;
  for (int k = 0; k < count && !code; ++k)
    if (syms[k * map->keysyms_per_keycode] == keysym) code = static_cast<xcb_keycode_t>(first + k);
  ASSERT_NE(code, 0) << "no key for " << keysym;
  for (const uint8_t type : {XCB_KEY_PRESS, XCB_KEY_RELEASE}) {
    xcb_key_press_event_t e{};
    e.response_type = type;
    e.detail = code;
    e.time = XCB_CURRENT_TIME;
    e.root = xcb_setup_roots_iterator(setup).data->root;
    e.event = w;
    e.same_screen = 1;
    e.state = modifiers;
    xcb_send_event(c, 0, w, type == XCB_KEY_PRESS ? XCB_EVENT_MASK_KEY_PRESS : XCB_EVENT_MASK_KEY_RELEASE,
                   reinterpret_cast<const char*>(&e));
  }
  xcb_flush(c);
}

const std::string kSettings = "[Stocks]\r\nRefreshSecs=20\r\nCurPort=1\r\n\r\n[VNServer]\r\nActive=NO\r\n\r\n";
const std::string kPorts = "First|PORT1||IBM;10;100;0;0;0;\r\nSecond|PORT2||KO;5;50;0;0;0;\r\n";

}  // namespace

TEST(Settings, TwoCopiesKeepEachOthersChanges) {
  if (PrivateXServerEnvironment::Display().empty() || !PrivateXServerEnvironment::WindowManager())
    GTEST_SKIP() << "no X server with a window manager";
  xcb_connection_t* c = xcb_connect(PrivateXServerEnvironment::Display().c_str(), nullptr);
  ASSERT_FALSE(xcb_connection_has_error(c));
  TempHome temp("two_copies");
  const std::string dir = temp.path.string() + "/", log = dir + "stocks.log";
  for (const char* name : {"STOCKS.INI", "STOCKS.IN_"}) ASSERT_TRUE(WriteFileAtomic(dir + name, kSettings));
  for (const char* name : {"PORT.DAT", "PORT.DA_"}) ASSERT_TRUE(WriteFileAtomic(dir + name, kPorts));
  // Under the sanitizers the copies on X11 keep the desktop bus library's one buffer, as the
  // test executables on the X server do (see x11_sanitizer_options.cpp).
  ASSERT_TRUE(WriteFileAtomic(dir + "lsan.supp", "leak:libdbus-1.so\n"));
  const std::vector<std::string> env = {"VANTORA_HOME=" + dir, "HOME=" + dir, "XDG_RUNTIME_DIR=" + dir,
                                        "DISPLAY=" + PrivateXServerEnvironment::Display(), "QT_QPA_PLATFORM=xcb",
                                        "QT_XCB_GL_INTEGRATION=none", "LSAN_OPTIONS=suppressions=" + dir + "lsan.supp"};
  ChildGuard first{StartProgramWith(env, {"LOG", "ALLOWDUP"})};
  ASSERT_GT(first.pid, 0);
  ASSERT_TRUE(WaitForLogLine(first.pid, log, "Loading settings")) << Slurp(log);
  ChildGuard second{StartProgramWith(env, {"LOG", "ALLOWDUP"})};
  ASSERT_GT(second.pid, 0);
  ASSERT_TRUE(WaitForLogLine(second.pid, log, "Loading settings", 2)) << Slurp(log);

  // In the first copy the user sets the refresh interval to 45 seconds: Ctrl+E, the field, OK.
  const xcb_window_t main = WaitForWindow(c, first.pid, "Vantora");
  ASSERT_NE(main, 0u) << "the first copy's window";
  ASSERT_NO_FATAL_FAILURE(TypeKey(c, main, 'e', XCB_MOD_MASK_CONTROL));
  const xcb_window_t prefs = WaitForWindow(c, first.pid, "Preferences");
  ASSERT_NE(prefs, 0u) << "Ctrl+E opened no preferences";
  ASSERT_NO_FATAL_FAILURE(TypeKey(c, prefs, 'a', XCB_MOD_MASK_CONTROL));
  ASSERT_NO_FATAL_FAILURE(TypeKey(c, prefs, '4'));
  ASSERT_NO_FATAL_FAILURE(TypeKey(c, prefs, '5'));
  ASSERT_NO_FATAL_FAILURE(TypeKey(c, prefs, 0xff0d));  // Return: OK
  auto refresh = [&] { return IniFile(dir + "STOCKS.INI").ReadInteger("Stocks", "RefreshSecs", 0); };
  for (int i = 0; i < 250 && refresh() != 45; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_EQ(refresh(), 45) << "the first copy wrote its new interval at once";
  // A portfolio added by hand while both run.
  const std::string added = "Third|PORT3||MSFT;1;300;0;0;0;\r\n";
  ASSERT_TRUE(WriteFileAtomic(dir + "PORT.DAT", kPorts + added));

  kill(first.pid, SIGTERM);
  ASSERT_EQ(first.Wait(20000), 0);
  kill(second.pid, SIGTERM);
  ASSERT_EQ(second.Wait(20000), 0);
  xcb_disconnect(c);

  // The second copy, closing last, wrote only what it changed itself (its window's place).
  const IniFile settings(dir + "STOCKS.INI");
  EXPECT_EQ(settings.ReadInteger("Stocks", "RefreshSecs", 0), 45) << Slurp(dir + "STOCKS.INI");
  EXPECT_TRUE(settings.ValueExists("MainForm", "Width")) << Slurp(dir + "STOCKS.INI");
  EXPECT_EQ(Slurp(dir + "PORT.DAT"), kPorts + added) << "a copy whose portfolios did not change wrote PORT.DAT";
}
