#include "host/DisplayPlatform.h"

namespace vigil {

namespace {

bool isSet(const char* value) {
    return value != nullptr && *value != '\0';
}

}  // namespace

DisplayPlatform DisplayPlatform::choose(const char* qtPlatform, const char* display,
                                        const char* waylandDisplay) {
    if (isSet(qtPlatform))
        return {Kind::chosenByUser, {}};
    if (isSet(display))
        return {Kind::x11, "xcb"};
    if (isSet(waylandDisplay))
        return {Kind::waylandOnly, {}};
    return {Kind::none, "offscreen"};
}

}  // namespace vigil
