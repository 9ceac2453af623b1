// The "COM Setup" tab page.
#pragma once

#include <QWidget>

#include "pages/core/page_link.h"

namespace pellory::pages {

class CDialogSetup : public QWidget, public PageLink {
public:
    explicit CDialogSetup(QWidget* parent = nullptr);
    ~CDialogSetup() override;

    void InitSetupPage();
    // Checks the "COM" radio button (the main window does it after InitSetupPage).
    void CheckComRadio();
};

}  // namespace pellory::pages
