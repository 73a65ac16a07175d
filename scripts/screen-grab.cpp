// Pictures of another program's window on an X display, for the demo: waits for a window whose
// WM_CLASS names the program, grabs it over and over while it is on screen, and saves as a PNG the
// middle one of the different painted pictures it saw: half-way through what the window showed,
// neither its first state nor its last.
//
//   screen-grab OUT.png PROGRAM [SECONDS]
//
// Prints one line once it watches the display, so that the caller knows when to start the program.
// Exits 0 when a picture was saved, 1 when no such window appeared within SECONDS (default 60) or it
// went before it was painted, 2 on a usage or display error. Built by scripts/demo (Qt 5 Gui and xcb); needs
// DISPLAY.
#include <xcb/xcb.h>

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// True when `window`'s WM_CLASS (instance and class, each ending in a NUL) holds `program`.
bool HasClass(xcb_connection_t* c, xcb_window_t window, const std::string& program) {
  xcb_get_property_reply_t* reply = xcb_get_property_reply(
      c, xcb_get_property(c, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256), nullptr);
  if (reply == nullptr) return false;
  const char* value = static_cast<const char*>(xcb_get_property_value(reply));
  const std::string names(value, static_cast<size_t>(xcb_get_property_value_length(reply)));
  free(reply);
  for (size_t start = 0; start < names.size();) {
    const size_t end = names.find('\0', start);
    if (names.compare(start, (end == std::string::npos ? names.size() : end) - start, program) == 0)
      return true;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return false;
}

// False for a picture of one colour only: a window mapped but not painted yet.
bool Painted(const QImage& image) {
  const QRgb first = image.pixel(0, 0);
  for (int y = 0; y < image.height(); y += 2)
    for (int x = 0; x < image.width(); x += 2)
      if (image.pixel(x, y) != first) return true;
  return false;
}

// The first viewable top-level window of `program`, or 0.
xcb_window_t FindWindow(xcb_connection_t* c, xcb_window_t root, const std::string& program) {
  xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr);
  if (tree == nullptr) return 0;
  xcb_window_t found = 0;
  const xcb_window_t* children = xcb_query_tree_children(tree);
  for (int i = 0; i < xcb_query_tree_children_length(tree) && found == 0; ++i) {
    xcb_get_window_attributes_reply_t* attrs =
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, children[i]), nullptr);
    const bool viewable = attrs != nullptr && attrs->map_state == XCB_MAP_STATE_VIEWABLE;
    free(attrs);
    if (viewable && HasClass(c, children[i], program)) found = children[i];
  }
  free(tree);
  return found;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: screen-grab OUT.png PROGRAM [SECONDS]\n");
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  const std::string program = argv[2];
  const qint64 limit_ms = (argc > 3 ? atoi(argv[3]) : 60) * 1000LL;

  qputenv("QT_QPA_PLATFORM", "xcb");
  QGuiApplication app(argc, argv);
  QScreen* screen = QGuiApplication::primaryScreen();
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  if (screen == nullptr || xcb_connection_has_error(c)) {
    fprintf(stderr, "screen-grab: cannot open the display\n");
    return 2;
  }
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
  // The caller may start the program now.
  printf("screen-grab: waiting for a window of %s\n", program.c_str());
  fflush(stdout);

  std::vector<QImage> frames;
  bool seen = false;
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < limit_ms) {
    const xcb_window_t window = FindWindow(c, root, program);
    if (window == 0) {
      if (seen) break;  // It was there and has gone.
      QThread::msleep(5);
      continue;
    }
    seen = true;
    const QImage frame = screen->grabWindow(window).toImage();
    // A new picture only when the window changed: the middle one is then half-way through its states.
    if (!frame.isNull() && Painted(frame) && (frames.empty() || frame != frames.back()))
      frames.push_back(frame);
    QThread::msleep(5);
  }
  xcb_disconnect(c);
  if (frames.empty()) {
    fprintf(stderr, "screen-grab: %s\n",
            seen ? "the window went before it was painted" : "no window appeared");
    return 1;
  }
  const size_t pick = frames.size() / 2;
  if (!frames[pick].save(out, "PNG")) {
    fprintf(stderr, "screen-grab: cannot write %s\n", argv[1]);
    return 2;
  }
  printf("screenshot: %s (%dx%d pixels, state %zu of %zu that the window showed)\n", argv[1],
         frames[pick].width(), frames[pick].height(), pick + 1, frames.size());
  return 0;
}
