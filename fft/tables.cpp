// The FFT tables built into the program (fft_built_in_tables, written at
// build time by fft/embed.cpp into the file DRMPI_FFT_TABLES): read-only
// data, 64-byte aligned, between drmpi_fft_tables and drmpi_fft_tables_end.
#define DRMPI_STRING(x) #x
#define DRMPI_EXPAND(x) DRMPI_STRING(x)

asm(".section .rodata\n"
    ".balign 64\n"
    ".globl drmpi_fft_tables\n"
    ".globl drmpi_fft_tables_end\n"
    "drmpi_fft_tables:\n"
    ".incbin \"" DRMPI_EXPAND(DRMPI_FFT_TABLES) "\"\n"
    "drmpi_fft_tables_end:\n"
    ".previous\n");
