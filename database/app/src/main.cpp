#include "application.h"

int main(int argc, char** argv) {
    return tarn::dbsendapp::runApplication(argc, argv);
}
