// The "Barcode Print" tab page.
#pragma once

#include <QWidget>

#include "pages/core/page_link.h"

namespace pellory::pages {

class CDiglogBarcode : public QWidget, public PageLink {
public:
    explicit CDiglogBarcode(QWidget* parent = nullptr);
    ~CDiglogBarcode() override;

    void InitBarcodePage();
};

}  // namespace pellory::pages
