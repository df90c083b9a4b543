#pragma once

// What assistive technology reads of a ClientListView. The list makes panels only for the
// rows in view, so Qt's view of it would show a screen reader a screenful of unnamed rows
// at most; this reports every row instead: the list (role List, with the widget's name)
// has one list item per row, named as the window shows the client (PeerText::shown), whose
// description holds the values the row's panel shows, and whose action "Disconnect" asks to
// disconnect that client as the panel's button does. A row the list hides is reported as
// invisible.
class ClientListAccessible final
{
public:
    ClientListAccessible() = delete;

    // Makes every ClientListView made from now on read this way; installing twice adds nothing.
    static void install();
};
