// The decimal separator of the summary line: the rule that turns the
// regional settings' text into one character, and the POSIX source of that
// text.
#include <clocale>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "platform/platform.h"

#if !defined(_WIN32)
#include <locale.h>
#endif

namespace {

TEST(DecimalSeparator, RuleKeepsOnlyASingleByte)
{
    const struct {
        const char* text;
        char separator;
        const char* what;
    } cases[] = {
        {".", '.', "a point"},
        {",", ',', "a comma"},
        {"'", '\'', "any other single byte"},
        {"", '\0', "empty: code 0, left out of the text"},
        {",.", '.', "two bytes do not fit"},
        {"\xC2\xB7", '.', "a two-byte UTF-8 middle dot"},
        {"\xD9\xAB", '.', "the two-byte Arabic decimal separator"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::decimal_separator_rule(c.text), c.separator) << c.what;
}

#if !defined(_WIN32)

// Sets one environment variable for the life of the object.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const char* value) : name_(name)
    {
        const char* old = std::getenv(name);
        had_value_ = old != nullptr;
        if (had_value_)
            old_value_ = old;
        setenv(name, value, 1);
    }
    ~ScopedEnvironment()
    {
        if (had_value_)
            setenv(name_, old_value_.c_str(), 1);
        else
            unsetenv(name_);
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const char* name_;
    bool had_value_ = false;
    std::string old_value_;
};

bool locale_installed(const char* name)
{
    locale_t probe = newlocale(LC_NUMERIC_MASK, name, static_cast<locale_t>(0));
    if (probe == static_cast<locale_t>(0))
        return false;
    freelocale(probe);
    return true;
}

TEST(DecimalSeparator, ReadFromTheUsersLocaleWithoutAdoptingIt)
{
    const char* comma_locale = "de_DE.UTF-8";
    if (!locale_installed(comma_locale))
        GTEST_SKIP() << comma_locale << " is not installed";

    {
        const ScopedEnvironment all("LC_ALL", comma_locale);
        EXPECT_EQ(platform::decimal_separator(), ',');
        // The process itself still writes numbers the "C" way.
        EXPECT_STREQ(std::localeconv()->decimal_point, ".");
    }
    {
        const ScopedEnvironment all("LC_ALL", "C");
        EXPECT_EQ(platform::decimal_separator(), '.');
    }
}

#endif

} // namespace
