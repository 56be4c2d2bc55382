// The decimal separator of the user's locale (LC_ALL, LC_NUMERIC or LANG),
// read through a locale object of its own: the C library's numeric locale
// stays "C" for the rest of the program.
#include "platform/platform.h"

#include <clocale>
#include <langinfo.h>
#include <locale.h>

namespace platform {

char decimal_separator()
{
    locale_t user = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
    if (user == static_cast<locale_t>(0))
        return '.';
    const char separator = decimal_separator_rule(nl_langinfo_l(RADIXCHAR, user));
    freelocale(user);
    return separator;
}

} // namespace platform
