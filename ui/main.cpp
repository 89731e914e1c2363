#include "ui/application.h"
#include "ui/main_form.h"

int main(int argc, char** argv)
{
    BoxsweeperApplication app(argc, argv);
    TMainForm form;
    if (!form.FormCreate()) return 0;  // the first-run box was closed: nothing is saved
    form.show();
    return app.exec();
}
