/* A module the Windows seam tests plant where a bare-name load must not look. */
__declspec(dllexport) int TarvonaPlantedProbe(void) { return 7; }
