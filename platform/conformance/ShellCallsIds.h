// The identifiers of ShellCallsTest.rc's resources, shared by the script
// and the cases.
#pragma once

#define IDR_CASE_MENU 201
#define IDM_CASE_EXIT 40001
