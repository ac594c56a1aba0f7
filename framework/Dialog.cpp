#include "framework/Dialog.h"

#include "framework/WinApp.h"

namespace {
// The dialog whose window is being created on this thread, and the hook that catches it.
thread_local CDialog* t_pendingDialog = nullptr;
thread_local HHOOK t_creationHook = nullptr;
thread_local int t_installedHooks = 0;

// Dialog procedure of every dialog of ours: the object's WindowProc has handled the message
// already, so the dialog manager's own processing is all that is left.
INT_PTR CALLBACK PassThroughDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }
}  // namespace

CDialog::CDialog(UINT templateId, CWnd* parent) : m_templateId(templateId), m_pParentWnd(parent) {}

LRESULT CALLBACK CDialog::CreationHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND && t_pendingDialog) {
        // The first window created is the dialog itself (the templates have no controls).
        CDialog* dialog = t_pendingDialog;
        t_pendingDialog = nullptr;
        dialog->Attach(reinterpret_cast<HWND>(wParam));
    }
    return CallNextHookEx(t_creationHook, code, wParam, lParam);
}

HWND CDialog::CreateFromTemplate(UINT templateId, HWND parent) {
    // Creations nest (a companion created inside this dialog's WM_CREATE): each one installs and
    // removes its own hook and gives the outer one back what it had.
    CDialog* const outerPending = t_pendingDialog;
    const HHOOK outerHook = t_creationHook;
    t_pendingDialog = this;
    const HHOOK hook = SetWindowsHookExW(WH_CBT, CreationHook, nullptr, GetCurrentThreadId());
    if (hook) ++t_installedHooks;
    t_creationHook = hook;
    HWND hwnd = CreateDialogParamW(AfxGetResourceHandle(), MAKEINTRESOURCEW(templateId), parent,
                                   PassThroughDialogProc, 0);
    if (hook && UnhookWindowsHookEx(hook)) --t_installedHooks;
    t_creationHook = outerHook;
    t_pendingDialog = outerPending;
    if (!hwnd && m_hWnd) Detach();
    return hwnd;
}

int CDialog::CreationHooksInstalled() { return t_installedHooks; }

BOOL CDialog::Create(UINT templateId, CWnd* parent) {
    m_modal = false;
    return CreateFromTemplate(templateId, parent ? parent->GetSafeHwnd() : nullptr) != nullptr;
}

INT_PTR CDialog::DoModal() {
    HWND parent = m_pParentWnd ? m_pParentWnd->GetSafeHwnd() : nullptr;
    m_modal = true;
    m_endModal = false;
    m_modalResult = -1;
    if (parent) ::EnableWindow(parent, FALSE);
    if (CreateFromTemplate(m_templateId, parent)) {
        MSG msg;
        while (!m_endModal) {
            if (GetMessageW(&msg, nullptr, 0, 0) <= 0) {
                m_modalResult = -1;  // WM_QUIT ends the modal loop
                break;
            }
            HWND root = GetAncestor(msg.hwnd, GA_ROOT);
            if (root && FromHandle(root) && IsDialogMessageW(root, &msg)) continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    if (parent) ::EnableWindow(parent, TRUE);
    DestroyWindow();
    m_modal = false;
    return m_modalResult;
}

void CDialog::EndDialog(int result) {
    if (m_modal) {
        m_endModal = true;
        m_modalResult = result;
        PostMessage(WM_NULL);
    } else {
        ::EndDialog(m_hWnd, result);
    }
}

LRESULT CDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_MOVE) m_sawMove = true;
    if (message == WM_INITDIALOG) {
        // Windows reports a window's first position while creating it, before WM_INITDIALOG;
        // systems that report it only when the window is shown get the same order here.
        if (!m_sawMove) {
            POINT origin = {0, 0};
            ClientToScreen(m_hWnd, &origin);
            SendMessage(WM_MOVE, 0, MAKELPARAM(origin.x, origin.y));
        }
        return OnInitDialog();
    }
    // Enter, Esc and WM_CLOSE arrive as clicks of IDOK and IDCANCEL.
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        if (LOWORD(wParam) == IDOK) {
            OnOK();
            return 0;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            OnCancel();
            return 0;
        }
    }
    return CWnd::WindowProc(message, wParam, lParam);
}
