// CImageWnd: the upload log window (template 130, "Dialog"), one list (1027) of hex lines. A new
// window per press; it releases itself when closed.
#pragma once

#include <QDialog>

#include "pelion/hex_listing.h"

namespace vantor::pelion {

class CImageWnd : public QDialog {
 public:
  // A separate top-level window; `owner` (the main dialog) only owns its object.
  explicit CImageWnd(QWidget* owner);

  HexListView* list() const { return m_list; }

 private:
  void OnInitDialog();

  HexListView* m_list = nullptr;
};

}  // namespace vantor::pelion
