// The floor for orva-ctl's start-up: a program linked to Qt Core alone that
// constructs its QCoreApplication and ends, so all it costs is loading Qt Core
// and its libraries and setting up the application object.

#include <QCoreApplication>

int main(int argc, char **argv)
{
    const QCoreApplication app(argc, argv);
    return 0;
}
