// The error register. Each thread keeps its own list of messages, so that
// the chain of failures of one call is never interleaved with another
// thread's; a program reads the chain on the thread that made the call.

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "hostkit.h"

namespace {

thread_local std::vector<std::string> register_messages;

std::string format_message(const char *format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    int n = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n < 0) return std::string(format);
    std::string text(static_cast<size_t>(n) + 1, '\0');
    vsnprintf(&text[0], text.size(), format, args);
    text.resize(static_cast<size_t>(n));
    return text;
}

// The message as it is kept: with flag 1, the system error text of the
// errno current at the call takes the place of the final newline.
std::string compose(int flag, const char *format, va_list args)
{
    int saved_errno = errno;
    std::string text = format_message(format ? format : "(null)", args);
    if (flag == 1) {
        if (!text.empty() && text.back() == '\n') text.pop_back();
        char buf[256];
        const char *err = strerror_r(saved_errno, buf, sizeof buf);
        text += ": ";
        text += err;
        text += "\n";
    }
    errno = saved_errno;
    return text;
}

void report_and_clear(FILE *stream)
{
    elog_print(stream);
    fflush(stream);
    register_messages.clear();
}

}  // namespace

extern "C" {

void elog_log(int flag, const char *format, va_list args)
{
    try {
        register_messages.push_back(compose(flag, format, args));
    } catch (...) {
        // Out of memory: the message is lost, but the call returns.
    }
}

void elog_complain(int flag, const char *format, va_list args)
{
    elog_log(flag, format, args);
    report_and_clear(stderr);
}

void elog_die(int flag, const char *format, va_list args)
{
    elog_log(flag, format, args);
    report_and_clear(stderr);
    exit(1);
}

void elog_clear_register(int)
{
    register_messages.clear();
}

int elog_count(void)
{
    return static_cast<int>(register_messages.size());
}

const char *elog_message(int i)
{
    if (i < 0 || static_cast<size_t>(i) >= register_messages.size()) return nullptr;
    return register_messages[static_cast<size_t>(i)].c_str();
}

void elog_print(FILE *stream)
{
    for (const std::string &m : register_messages) {
        fputs(m.c_str(), stream);
        if (m.empty() || m.back() != '\n') fputc('\n', stream);
    }
}

}  // extern "C"
