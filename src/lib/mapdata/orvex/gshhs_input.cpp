// Placeholder until this input kind is built: the scan refuses the input.

#include "OrvexInternal.h"

int orvex_scan_gshhs(Orvex *)
{
    orvex_register_error(0, "Orvex::scanInput: this input kind is not available yet.\n");
    return -1;
}
