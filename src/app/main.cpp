// The loader's start: the application titled "Загрузчик", the main window (its
// creation restores the saved port and file), then the message loop until the main
// window closes.
#include "app/loader_application.h"
#include "app/unit1.h"

int main(int argc, char** argv) {
  app::TLoaderApplication application(argc, argv);
  app::TForm1 form1;
  form1.show();
  return app::TLoaderApplication::exec();
}
