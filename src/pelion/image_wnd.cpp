// CImageWnd (see image_wnd.h).
#include "pelion/image_wnd.h"

#include "pelion/slots.h"
#include "ui/dialog_units.h"

namespace vantor::pelion {

CImageWnd::CImageWnd(QWidget* owner)
    : QDialog(owner, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowCloseButtonHint) {
  setAttribute(Qt::WA_DeleteOnClose);  // a closed window is released
  setObjectName(QStringLiteral("CImageWnd"));
  OnInitDialog();
}

void CImageWnd::OnInitDialog() {
  QFont font = ui::DialogFont();
  font.setPointSize(8);  // template 130: 8 points
  setFont(font);
  setWindowTitle(QStringLiteral("Dialog"));
  setFixedSize(ui::DialogUnitsToPixels(font, 0, 0, 317, 184).size());

  m_list = new HexListView(this);
  m_list->setObjectName(QString::number(IDC_IMAGE_LIST));
  ui::PlaceControl(m_list, font, 7, 7, 303, 170);
  m_list->SetFontToFit(font);
}

}  // namespace vantor::pelion
