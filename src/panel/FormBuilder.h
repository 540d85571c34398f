#pragma once
// Builds the window's controls from the layout table.

#include "LayoutTable.h"

#include <QFont>
#include <QHash>
#include <QString>

class QWidget;

// Maps the two Japanese Gothic faces (both spellings) to the IPA Gothic faces
// where they are missing. Call once before fonts are used.
void registerFontSubstitutions();

QFont layoutFont(layout::Font key);

inline int twipsToPixels(int twips)
{
    return (twips + layout::kTwipsPerPixel / 2) / layout::kTwipsPerPixel;
}

// Creates every control of the table under `form` (objectName = the control's
// name), sets the tab order and the start states, and returns them by name.
QHash<QString, QWidget *> buildLayout(QWidget *form);
