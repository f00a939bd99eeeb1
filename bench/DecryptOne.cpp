// Decrypts one file with the core, for the benchmark: bench-decrypt FILE PASSWORD PREFIX
#include "core/FileDecryptor.h"

#include <iostream>

namespace {

class CStderrSink : public brasko::IMessageSink
{
public:
    void ShowMessage(const std::string& strText, brasko::EMessageIcon) override { std::cerr << strText << '\n'; }
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::cerr << "usage: bench-decrypt FILE PASSWORD PREFIX\n";
        return 2;
    }
    CStderrSink messages;
    return brasko::CFileDecryptor(argv[3], "", "").DecryptFile(argv[1], argv[2], messages);
}
