// Resource numbers shared by the resource scripts and the program: plain #defines so rc can read them too.
#ifndef ORVANE_RESOURCE_IDS_H
#define ORVANE_RESOURCE_IDS_H

#define IDI_APP 101

#define IDR_TRAYMENU 101
#define IDM_EXIT 101
#define IDM_SETTINGS 102

#define IDD_SETTINGS 101
#define IDC_PREVIEW 101
#define IDC_SAVERLIST 102
#define IDC_CONFIGURE 103
#define IDC_APPLY 104

#endif
