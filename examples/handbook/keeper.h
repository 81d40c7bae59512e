/* Help context ids of the keeper's log, the program this handbook documents: the numbers it
   gives HtmlHelp (HH_HELP_CONTEXT) when F1 is pressed in one of its windows. */
#ifndef KEEPER_H
#define KEEPER_H

// The arrival checklist, the lamp and fuel logs.
#define IDH_ARRIVAL      1000
#define IDH_LAMP         1010
#define IDH_FUEL         1020
// The fog horn panel: 1030.
#define IDH_FOG_SIGNALS  0x406
#define IDH_MORSE        1040

#endif
