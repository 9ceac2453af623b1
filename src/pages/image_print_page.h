// The "Image Print" tab page.
#pragma once

#include <QWidget>

#include "pages/core/page_link.h"

namespace pellory::pages {

class CDialogPPrint : public QWidget, public PageLink {
public:
    explicit CDialogPPrint(QWidget* parent = nullptr);
    ~CDialogPPrint() override;

    void InitImagePage();
};

}  // namespace pellory::pages
