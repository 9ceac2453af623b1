#include "pages/barcode_page.h"

namespace pellory::pages {

CDiglogBarcode::CDiglogBarcode(QWidget* parent) : QWidget(parent), PageLink({link::kOpenErrorText, true}) {}

CDiglogBarcode::~CDiglogBarcode() = default;

void CDiglogBarcode::InitBarcodePage() {}

}  // namespace pellory::pages
