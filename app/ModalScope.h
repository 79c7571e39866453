#pragma once

#include <QTimer>

#include "app/CCollectorDlg.h"

// Marks the time a message box or file dialog of the window is open. Notifications that
// arrive meanwhile are held and handled, in order, as soon as the last one closes.
class ModalScope {
  public:
    explicit ModalScope(CCollectorDlg& dlg) : dlg_(dlg) { ++dlg_.m_nModalDepth; }
    ~ModalScope() {
        if (--dlg_.m_nModalDepth == 0 && !dlg_.m_pending.empty()) {
            QTimer::singleShot(0, &dlg_, [d = &dlg_] { d->DrainNotifications(); });
        }
    }
    ModalScope(const ModalScope&) = delete;
    ModalScope& operator=(const ModalScope&) = delete;

  private:
    CCollectorDlg& dlg_;
};
