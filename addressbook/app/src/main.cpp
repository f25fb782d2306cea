// TarnGPSend: the group-send application.
#include "application.h"

int main(int argc, char** argv) {
    return tarn::gpsend::runApplication(argc, argv);
}
