// The decimal separator of the thread's regional settings.
#include "platform/platform.h"

#include "platform/win32/win32_api.h"

namespace platform {

char decimal_separator()
{
    // Room for one character and its NUL: a longer separator does not fit,
    // the call fails and '.' is used; an empty one gives 0.
    char text[2] = {};
    if (GetLocaleInfoA(GetThreadLocale(), LOCALE_SDECIMAL, text, 2) > 0)
        return text[0];
    return '.';
}

} // namespace platform
