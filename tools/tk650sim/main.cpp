// tk650sim: a stand-in for one or many Tk650 terminals (daemon, broadcasts,
// serial line), for trying the downloader and for its tests.
#include <QCoreApplication>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    return 0;
}
