// The identifiers of ResourceCallsTest.rc's resources, shared by the
// script and the cases.
#pragma once

// Strings: 15 ends the first block of sixteen, 16 and 18 are in the
// second (17 is not), the fourth block holds 50 alone.
#define IDS_FIRST_BLOCK_LAST 15
#define IDS_SECOND_BLOCK_FIRST 16
#define IDS_SECOND_BLOCK_THIRD 18
#define IDS_GAP 17
#define IDS_FOURTH_BLOCK 50
#define IDS_NO_BLOCK 200

#define IDI_CASE 101
#define IDR_CASE_ACCELERATORS 102
#define IDD_CASE_DIALOG 103
#define IDR_CASE_BYTES 104
#define IDC_CASE_LINE 1001

#define IDM_CASE_EXIT 40001
#define IDM_CASE_REFRESH 40002
