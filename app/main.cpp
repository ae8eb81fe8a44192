// SPDX-License-Identifier: GPL-3.0-or-later
#include "morvane_app.h"

int main(int argc, char** argv)
{
    CMorvaneApp app(argc, argv);
    const int code = app.InitInstance();
    app.ExitInstance();
    return code;
}
