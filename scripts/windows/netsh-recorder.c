/* Stands in for netsh.exe in the setup check's wine prefix, whose own netsh knows no firewall:
   appends its command line (UTF-8, one line) to the file named by CORVANE_NETSH_LOG and
   succeeds. */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

int main(void)
{
    const wchar_t* log = _wgetenv(L"CORVANE_NETSH_LOG");
    if (!log)
        return 1;
    const wchar_t* line = GetCommandLineW();
    int size = WideCharToMultiByte(CP_UTF8, 0, line, -1, NULL, 0, NULL, NULL);
    char* text = malloc(size);
    if (!text)
        return 1;
    WideCharToMultiByte(CP_UTF8, 0, line, -1, text, size, NULL, NULL);
    FILE* out = _wfopen(log, L"ab");
    if (!out)
        return 1;
    fprintf(out, "%s\n", text);
    fclose(out);
    free(text);
    return 0;
}
