// The library's failure convention: register one message and return a
// failure value. These wrappers hand each message to the host error log.

#include <stdarg.h>

#include "OrvexInternal.h"

void orvex_register_error(int flag, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    elog_log(flag, format, args);
    va_end(args);
}

void orvex_complain(int flag, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    elog_complain(flag, format, args);
    va_end(args);
}

void orvex_die(int flag, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    elog_die(flag, format, args);
}

void orvex_clear_register(int flag)
{
    elog_clear_register(flag);
}
