// Which display a window shell would use, whether its server answers, and the title.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/display.h"

namespace {

// Sets DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM for one case, and puts them back.
class Environment {
 public:
  Environment() {
    for (int i = 0; i < 3; ++i) {
      const char* v = std::getenv(kNames[i]);
      had_[i] = v != nullptr;
      if (v) saved_[i] = v;
    }
  }
  ~Environment() {
    for (int i = 0; i < 3; ++i) set(i, had_[i] ? saved_[i].c_str() : nullptr);
  }
  void operator()(const char* display, const char* wayland, const char* qpa) {
    set(0, display);
    set(1, wayland);
    set(2, qpa);
  }

 private:
  static void set(int i, const char* v) {
    if (v)
      ::setenv(kNames[i], v, 1);
    else
      ::unsetenv(kNames[i]);
  }
  static constexpr const char* kNames[3] = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
  bool had_[3] = {};
  std::string saved_[3];
};

TEST(Display, NamedByTheEnvironment) {
  using K = plat::DisplayName;
  struct Case {
    const char *display, *wayland, *qpa;
    K::Kind kind;
    const char* name;
  } cases[] = {
      {nullptr, nullptr, nullptr, K::kNone, ""},
      {":0", nullptr, nullptr, K::kX11, ":0"},
      {nullptr, "wayland-0", nullptr, K::kWayland, "wayland-0"},
      {"", "", nullptr, K::kNone, ""},
      {":0", nullptr, "offscreen", K::kNone, ""},
      {":0", nullptr, "minimal", K::kNone, ""},
      {":0", nullptr, "offscreen:fontengine=freetype", K::kNone, ""},
      {":0", nullptr, "xcb", K::kX11, ":0"},
      {nullptr, "wayland-0", "xcb", K::kNone, ""},
      {":0", "wayland-0", "wayland", K::kWayland, "wayland-0"},
  };
  Environment env;
  for (const Case& c : cases) {
    env(c.display, c.wayland, c.qpa);
    const plat::DisplayName d = plat::displayFromEnvironment();
    EXPECT_EQ(d.kind, c.kind) << (c.display ? c.display : "-") << " " << (c.qpa ? c.qpa : "-");
    EXPECT_EQ(d.name, c.name);
  }
}

TEST(Display, ANamedDisplayWithoutServerIsNotAvailableAndSaysWhy) {
  struct Case {
    const char *display, *wayland;
    const char* why;  // "" when none is named
  } cases[] = {
      {nullptr, nullptr, ""},
      {":987", nullptr, "no X server answers on DISPLAY=:987"},
      {"unix:987.0", nullptr, "no X server answers on DISPLAY=unix:987.0"},
      {"nonsense", nullptr, "no X server answers on DISPLAY=nonsense"},
      {nullptr, "/nonexistent/wayland-9",
       "no Wayland compositor answers on WAYLAND_DISPLAY=/nonexistent/wayland-9"},
  };
  Environment env;
  for (const Case& c : cases) {
    env(c.display, c.wayland, nullptr);
    std::string why = "stale";
    EXPECT_FALSE(plat::displayAvailable(&why));
    EXPECT_EQ(why, c.why);
  }
}

TEST(Display, ApplicationTitle) {
  const std::pair<const char*, const char*> cases[] = {
      {"/opt/loja/tefsync", "tefsync"},
      {"C:\\Loja\\TEFSYNC.EXE", "Tefsync"},
      {"/x/TEFSync.v2.exe", "Tefsync"},
      {"/opt/loja/ProcGuard.exe", "Procguard"},
      {"C:\\LOJA\\GUARDIAN.V2.EXE", "Guardian"},
      {"/x/a", "a"},
      {"/x/.oculto", ""},
  };
  for (const auto& [path, title] : cases) EXPECT_EQ(plat::applicationTitle(path), title) << path;
}

}  // namespace
