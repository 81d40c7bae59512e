// Help ids of the dialogs.
#ifndef IDS_H
#define IDS_H
#define IDH_A 1
#define IDH_B 0x0010  // the part of page B
#define IDH_TWO 7
#endif
