// What the page widgets of this folder share as they build their controls: the dialog-unit
// layout helpers (widgets/dialog_layout.h) under the pages' names, and the bytes of a field.
#pragma once

#include <QString>

#include <string>

#include "widgets/dialog_layout.h"

namespace pellory::pages {

using widgets::DialogUnits;
using widgets::MakeControlDu;
using widgets::MakeGroupDu;
using widgets::MakeLabelDu;
using widgets::PlaceDu;
using widgets::ReplaceEntries;
using widgets::SetControlId;

// A field's text as the Latin-1 bytes the page actions read.
inline std::string Latin1(const QString& text) { return text.toLatin1().toStdString(); }

}  // namespace pellory::pages
