// Resource ids of the frame tests' own resources (wizard_test.rc): a frame
// laid out like the installer's, broken frames, and plain pages.
#pragma once

#define IDD_TEST_FRAME 101               // like the installer's frame: same ids, same layout
#define IDD_TEST_FRAME_NO_FINISH 150     // lacks button 1014
#define IDD_TEST_FRAME_NO_PLACEHOLDER 151  // lacks control 1012
#define IDD_TEST_PAGE 201                // 290 x 192, like every installer page
#define IDD_TEST_SMALL_PAGE 202          // 100 x 50: centring must differ from the placeholder's x
#define IDD_TEST_MISSING 299             // no such template

#define IDC_TEST_PAGE_BOX 1100           // a check box on the test pages

// Texts of the cancel confirmation in the test string table (ids 112, 113).
#define TEST_CANCEL_CAPTION "Wizard Test Caption"
#define TEST_CANCEL_TEXT "Leave the wizard test?"
