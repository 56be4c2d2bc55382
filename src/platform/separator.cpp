#include "platform/platform.h"

namespace platform {

char decimal_separator_rule(const char* text)
{
    if (text == nullptr)
        return '.';
    if (text[0] == '\0')
        return '\0';
    return text[1] == '\0' ? text[0] : '.';
}

} // namespace platform
