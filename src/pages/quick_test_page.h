// The "Printer Test" tab page.
#pragma once

#include <QWidget>

#include "pages/core/page_link.h"

namespace pellory::pages {

class CDialogQuickTest : public QWidget, public PageLink {
public:
    explicit CDialogQuickTest(QWidget* parent = nullptr);
    ~CDialogQuickTest() override;

    void InitTestPage();
};

}  // namespace pellory::pages
