// The pages' process-wide state, put back before and after every test of an executable that
// includes this header (page_test_support.h does): the ready flag clear, and the record of the
// printer's characters at its start (PC437, U.S.A., Kanji Mode off, bytes shown as bytes). The
// link's settings come with it (support/settings_guard.h).
#pragma once

#include "charset/printer_record.h"
#include "pages/core/page_link.h"
#include "support/settings_guard.h"

namespace pellory::test {

inline void RestorePageSettings() {
    pages::ReadyFlag = false;
    charset::ResetPrinterRecord();
}
inline const bool kPageSettingsRestored = RestoreAroundEachTest(&RestorePageSettings);

}  // namespace pellory::test
