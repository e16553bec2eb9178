// Asks a top-level window to close, as a window manager's close button does:
// a WM_DELETE_WINDOW client message. The end-to-end test's X server runs no
// window manager.
//
//   e2e_close <window id>
//
// Exit code 0 when the message was sent, 1 otherwise.
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  char* end = nullptr;
  const unsigned long window = argc == 2 ? std::strtoul(argv[1], &end, 0) : 0;
  if (argc != 2 || *end != '\0' || window == 0) {
    std::fprintf(stderr, "usage: e2e_close <window id>\n");
    return 1;
  }
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    std::fprintf(stderr, "e2e_close: cannot open the display\n");
    return 1;
  }
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  const Status sent = XSendEvent(display, window, False, NoEventMask, &event);
  XSync(display, False);
  XCloseDisplay(display);
  return sent != 0 ? 0 : 1;
}
