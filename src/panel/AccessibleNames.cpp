#include "LayoutTable.h"

#include "keys/ControlNames.h"

namespace layout {

// What each control does, for screen readers and UI automation (the one table of
// names). A control not listed there is named by its caption.
const char *accessibleName(std::string_view control)
{
    const keys::ControlName *row = keys::spokenName(control);
    // The table's texts are literals, so their data is NUL-terminated.
    return row ? row->spoken.data() : nullptr;
}

} // namespace layout
