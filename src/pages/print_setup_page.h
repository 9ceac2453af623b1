// The "Print Setup" tab page.
#pragma once

#include <QWidget>

#include "pages/core/page_link.h"

namespace pellory::pages {

class CDialogPSetup : public QWidget, public PageLink {
public:
    explicit CDialogPSetup(QWidget* parent = nullptr);
    ~CDialogPSetup() override;

    void InitPrintSetupPage();
    // The main window writes the three number fields after the page's initialisation.
    void SetNumberFields(const QString& lineSpace, const QString& left, const QString& right);
};

}  // namespace pellory::pages
