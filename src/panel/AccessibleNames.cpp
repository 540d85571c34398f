#include "LayoutTable.h"

#include "keys/ControlNames.h"

namespace layout {

// What each control does, for screen readers and UI automation (the one table of
// names, which the command-line client shares). A control not listed there is
// named by its caption.
const char *accessibleName(std::string_view control)
{
    const keys::ControlName *row = keys::findByControl(control);
    // The table's texts are literals, so their data is NUL-terminated.
    return row && !row->spoken.empty() ? row->spoken.data() : nullptr;
}

} // namespace layout
