/* Drops one file on an X window as a file manager does, through the XDND protocol, so that
 * the end-to-end tests can drop a blob file on the program in either build: GLFW and
 * Wine's X11 driver both take file drops as XDND targets.
 *
 *   xdnd_drop WINDOW FILE
 *
 * WINDOW is an X window id (as xdotool prints it), FILE an absolute path. The file is
 * offered as text/uri-list at the window's centre; the program ends with status 0 when the
 * target has taken the drop (XdndFinished), 1 when it refused it or ten seconds passed. */
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/select.h>
#include <time.h>

static Display* display;
static Window source, target;
static Atom xdndAware, xdndSelection, xdndEnter, xdndPosition, xdndStatus, xdndDrop,
    xdndFinished, xdndActionCopy, uriList;

static void sendToTarget(Atom type, long l1, long l2, long l3, long l4) {
    XEvent event;
    memset(&event, 0, sizeof event);
    event.xclient.type = ClientMessage;
    event.xclient.display = display;
    event.xclient.window = target;
    event.xclient.message_type = type;
    event.xclient.format = 32;
    event.xclient.data.l[0] = (long)source;
    event.xclient.data.l[1] = l1;
    event.xclient.data.l[2] = l2;
    event.xclient.data.l[3] = l3;
    event.xclient.data.l[4] = l4;
    XSendEvent(display, target, False, NoEventMask, &event);
    XFlush(display);
}

/* file://PATH with every byte outside the unreserved set percent-encoded, CR LF ended. */
static char* uriOf(const char* path) {
    static const char* keep = "-._~/";
    char* uri = malloc(strlen(path) * 3 + 16);
    char* out = uri + sprintf(uri, "file://");
    for (const unsigned char* p = (const unsigned char*)path; *p; ++p) {
        if ((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') || (*p >= '0' && *p <= '9') ||
            strchr(keep, *p))
            *out++ = (char)*p;
        else
            out += sprintf(out, "%%%02X", *p);
    }
    strcpy(out, "\r\n");
    return uri;
}

int main(int argc, char** argv) {
    if (argc != 3 || argv[2][0] != '/') {
        fprintf(stderr, "usage: xdnd_drop WINDOW /ABSOLUTE/FILE\n");
        return 2;
    }
    display = XOpenDisplay(NULL);
    if (!display) {
        fprintf(stderr, "xdnd_drop: cannot open the display\n");
        return 1;
    }
    target = (Window)strtoul(argv[1], NULL, 0);
    char* uri = uriOf(argv[2]);
    Window root = DefaultRootWindow(display);
    source = XCreateSimpleWindow(display, root, 0, 0, 1, 1, 0, 0, 0);
    xdndAware = XInternAtom(display, "XdndAware", False);
    xdndSelection = XInternAtom(display, "XdndSelection", False);
    xdndEnter = XInternAtom(display, "XdndEnter", False);
    xdndPosition = XInternAtom(display, "XdndPosition", False);
    xdndStatus = XInternAtom(display, "XdndStatus", False);
    xdndDrop = XInternAtom(display, "XdndDrop", False);
    xdndFinished = XInternAtom(display, "XdndFinished", False);
    xdndActionCopy = XInternAtom(display, "XdndActionCopy", False);
    uriList = XInternAtom(display, "text/uri-list", False);

    /* The protocol version both sides speak: the target's, at most 5. */
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = NULL;
    long version = 0;
    if (XGetWindowProperty(display, target, xdndAware, 0, 1, False, AnyPropertyType, &type,
                           &format, &count, &after, &data) == Success &&
        data && count == 1)
        version = *(long*)data;
    if (data) XFree(data);
    if (version < 2) {
        fprintf(stderr, "xdnd_drop: window 0x%lx takes no drops (XdndAware %ld)\n",
                (unsigned long)target, version);
        return 1;
    }
    if (version > 5) version = 5;

    XWindowAttributes attributes;
    XGetWindowAttributes(display, target, &attributes);
    int x, y;
    Window child;
    XTranslateCoordinates(display, target, root, attributes.width / 2, attributes.height / 2, &x,
                          &y, &child);

    XSetSelectionOwner(display, xdndSelection, source, CurrentTime);
    sendToTarget(xdndEnter, version << 24, (long)uriList, 0, 0);
    sendToTarget(xdndPosition, 0, ((long)x << 16) | (y & 0xFFFF), CurrentTime,
                 (long)xdndActionCopy);

    /* The target may ask for the data at any time (Wine does so on entering); the drop
     * follows its first status that accepts it. */
    int dropped = 0;
    const time_t deadline = time(NULL) + 10;
    const int fd = ConnectionNumber(display);
    while (time(NULL) < deadline) {
        if (!XPending(display)) {
            fd_set set;
            FD_ZERO(&set);
            FD_SET(fd, &set);
            struct timeval wait = {0, 100000};
            select(fd + 1, &set, NULL, NULL, &wait);
            continue;
        }
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == SelectionRequest) {
            XSelectionRequestEvent* request = &event.xselectionrequest;
            XEvent reply;
            memset(&reply, 0, sizeof reply);
            reply.xselection.type = SelectionNotify;
            reply.xselection.display = display;
            reply.xselection.requestor = request->requestor;
            reply.xselection.selection = request->selection;
            reply.xselection.target = request->target;
            reply.xselection.time = request->time;
            reply.xselection.property = None;
            if (request->target == uriList) {
                XChangeProperty(display, request->requestor, request->property, uriList, 8,
                                PropModeReplace, (unsigned char*)uri, (int)strlen(uri));
                reply.xselection.property = request->property;
            }
            XSendEvent(display, request->requestor, False, NoEventMask, &reply);
            XFlush(display);
        } else if (event.type == ClientMessage && event.xclient.message_type == xdndStatus) {
            if (!(event.xclient.data.l[1] & 1)) {
                fprintf(stderr, "xdnd_drop: the window refused the file\n");
                return 1;
            }
            if (!dropped) {
                sendToTarget(xdndDrop, 0, CurrentTime, 0, 0);
                dropped = 1;
            }
        } else if (event.type == ClientMessage && event.xclient.message_type == xdndFinished) {
            return 0;
        }
    }
    fprintf(stderr, "xdnd_drop: no answer from window 0x%lx\n", (unsigned long)target);
    return 1;
}
