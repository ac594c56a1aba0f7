// A dialog from a resource template, shaped like the classic framework's CDialog. The object is
// attached to its window by a creation hook, so it sees WM_CREATE and the first WM_MOVE before
// WM_INITDIALOG.
#pragma once

#include "framework/Wnd.h"

class CDialog : public CWnd {
public:
    CDialog(UINT templateId, CWnd* parent);

    // Runs the dialog modally; returns the EndDialog result, or -1 when WM_QUIT ended the loop.
    virtual INT_PTR DoModal();
    // Creates the dialog modeless from a template.
    virtual BOOL Create(UINT templateId, CWnd* parent);
    void EndDialog(int result);

    UINT TemplateId() const { return m_templateId; }
    // Creation hooks of this thread still installed (0 outside a creation).
    static int CreationHooksInstalled();
    CWnd* ParentWnd() const { return m_pParentWnd; }

protected:
    virtual BOOL OnInitDialog() { return TRUE; }
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    HWND CreateFromTemplate(UINT templateId, HWND parent);
    static LRESULT CALLBACK CreationHook(int code, WPARAM wParam, LPARAM lParam);

    UINT m_templateId;
    CWnd* m_pParentWnd;
    bool m_sawMove = false;
    bool m_modal = false;
    bool m_endModal = false;
    INT_PTR m_modalResult = -1;
};
