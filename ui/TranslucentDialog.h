// A borderless layered window whose whole appearance is one PNG with per-pixel alpha, stretched
// to the window. A colour-keyed companion dialog lies on top of it and carries what changes.
#pragma once

#include <memory>

#include "framework/Dialog.h"
#include "ui/Gdiplus.h"
#include "ui/StandardDialog.h"

class CTranslucentDialog : public CDialog {
public:
    CTranslucentDialog(UINT templateId, UINT imageId, CWnd* parent);
    ~CTranslucentDialog() override;

protected:
    BOOL OnInitDialog() override;
    void OnOK() override {}
    void OnCancel() override {}

    // The companion dialog, constructed (template and parent set) but not created; null for none.
    virtual CStandardDialog* CreateStandardDialog() = 0;
    // Called at the end of every move.
    virtual void OnDialogMoved() {}
    // Called when the user has confirmed the exit question, before the window ends.
    virtual void OnExitConfirmed() {}

    // Pushes the background image to the system once.
    void UpdateBackground();

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    BOOL OnEraseBkgnd(HDC) override { return TRUE; }
    void OnMove(int x, int y) override;
    void OnSize(UINT type, int cx, int cy) override { CDialog::OnSize(type, cx, cy); }
    int OnCreate(LPCREATESTRUCTW create) override;
    void OnLButtonDown(UINT flags, POINT point) override;
    void OnGetMinMaxInfo(MINMAXINFO* info) override;
    void OnSysCommand(UINT id, LPARAM lParam) override;

    // While the exit question is open, and after the user confirmed it.
    bool m_bExitQuestionOpen = false;
    bool m_bExitConfirmed = false;
    std::unique_ptr<Gdiplus::Image> m_pImage;
    std::unique_ptr<CStandardDialog> m_pStandardDlg;
    BLENDFUNCTION m_blend;
};
