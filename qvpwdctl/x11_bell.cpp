#include "x11_bell.h"

#include <X11/XKBlib.h>

namespace qvpwdctl {

void X11Bell::Beep(BeepSound sound) {
    const char* name = sound == BeepSound::kExclamation ? kExclamationName : kDefaultName;
    XkbBell(display_, None, 0, XInternAtom(display_, name, False));
    XSync(display_, False);
}

}  // namespace qvpwdctl
