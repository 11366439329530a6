// The capture window's template and its controls, by which the tests also
// read the window.
#ifndef KXCAPTURE_RESOURCE_H
#define KXCAPTURE_RESOURCE_H

#define KX_CAPTURE_TITLE "KXVozaDa machine capture"

#define IDD_CAPTURE 100
#define IDC_HEADING 101 // what happened, in one line
#define IDC_PATH 102    // the saved file's whole path
#define IDC_ADVICE 103  // what to do now, in one sentence
#define IDC_NOTE 104    // why the temporary folder, or why nothing was saved
#define IDC_ANSWERS 105 // the capture's answers, one a line
#define IDC_OPEN 106    // opens the folder that holds the file
// Close is IDCANCEL, which Esc and the title bar's close box press too.

#define IDD_FIXED_FONT 110 // a hidden dialog whose font the answers box takes

#endif
