/* Identifiers of clearway's resources and page controls.
   Included by the C++ sources and by clearway.rc, so plain #defines only. */
#ifndef CLEARWAY_RESOURCE_H
#define CLEARWAY_RESOURCE_H

/* string table: the caption of both pages, shown as the wizard's title */
#define IDS_WIZARD_CAPTION 1

/* the program's icon */
#define IDI_CLEARWAY 128

/* the two wizard pages */
#define IDD_PAGE1 129
#define IDD_PAGE2 130

/* page 1: the two choices and the explanation above them */
#define IDC_REMOVE_UTILITIES 1006
#define IDC_REMOVE_DRIVERS 1007
#define IDC_PAGE1_TEXT 1008

/* page 2: the closing text */
#define IDC_PAGE2_TEXT 1009

#endif
