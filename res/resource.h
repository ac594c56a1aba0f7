// Resource ids of the launcher.
#pragma once

#define IDD_LAUNCHER 102
#define IDD_OVERLAY 137
#define IDR_MAINFRAME 128
#define IDB_SPLASH 131
#define IDB_PROGRESS_BAR 135
