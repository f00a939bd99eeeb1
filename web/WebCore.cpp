#include "WebCore.h"

#include "ChunkDecryptor.h"
#include "DesKernelChoice.h"
#include "Messages.h"
#include "OutputGuards.h"
#include "OutputTemplate.h"
#include "Plausibility.h"
#include "SecureBuffer.h"
#include "TripleDes.h"

#include <algorithm>
#include <span>

namespace brasko::web {

namespace {

EDesKernel CoreKernel(EKernel kernel)
{
#ifdef __wasm_simd128__
    if (kernel == EKernel::Simd128)
        return EDesKernel::Simd128;
#endif
    (void)kernel;
    return EDesKernel::U64;
}

SOutputTemplate CoreTemplate(const STemplate& tpl)
{
    return SOutputTemplate{tpl.strPrefix, tpl.strSuffix, tpl.strExtension};
}

} // namespace

void Wipe(void* p, std::size_t nSize)
{
    SecureWipe(p, nSize);
}

bool HasKernel(EKernel kernel)
{
#ifdef __wasm_simd128__
    return kernel == EKernel::U64 || kernel == EKernel::Simd128;
#else
    return kernel == EKernel::U64;
#endif
}

bool SelfTest(EKernel kernel)
{
    if (!HasKernel(kernel))
        return false;
    // The desktop's choice for a requested kernel: it runs the known answers and falls back when they fail.
    const SDesKernelChoice choice =
        ChooseDesKernel(DesKernelName(CoreKernel(kernel)), DesKernelSupported, false);
    return choice.kernel == CoreKernel(kernel) && !choice.bRefused && !choice.bSelfTestFailed;
}

struct CCipher::SImpl
{
    CTripleDesDecryptor cipher;
};

CCipher::CCipher(std::unique_ptr<SImpl> pImpl) : m_pImpl(std::move(pImpl)) {}

CCipher::~CCipher() = default;

CCipher* CCipher::Open(std::string_view password, EKernel kernel)
{
    if (!HasKernel(kernel))
        return nullptr;
    auto pImpl = std::make_unique<SImpl>();
    if (!pImpl->cipher.Init(DeriveKey(password), CoreKernel(kernel)))
        return nullptr;
    return new CCipher(std::move(pImpl));
}

bool CCipher::DecryptChunk(unsigned char* pData, std::size_t nLength, bool /*bFileStart*/)
{
    // ChunkEnd never leaves a short final chunk without the block before it (but in a file shorter than
    // one block), so a fresh chunk decryptor, zeros before its first block, is right for every chunk.
    CChunkDecryptor chunk;
    return chunk.Decrypt(m_pImpl->cipher, pData, nLength);
}

std::uint64_t ChunkEnd(std::uint64_t nOffset, std::uint64_t nSize, std::uint64_t nChunkSize)
{
    const std::uint64_t nStep = std::max<std::uint64_t>(kBlockSize, nChunkSize - nChunkSize % kBlockSize);
    if (nOffset >= nSize || nSize - nOffset <= nStep)
        return nSize;
    const std::uint64_t nEnd = nOffset + nStep;
    return nSize - nEnd < kBlockSize ? nSize : nEnd;
}

std::size_t SampleSize()
{
    return kPlausibilitySampleSize;
}

SVerdict Judge(const unsigned char* pData, std::size_t nLength)
{
    SPlausibility judged = JudgePlaintext(std::span<const unsigned char>(pData, nLength));
    SVerdict verdict;
    switch (judged.verdict) {
    case EPlausibility::NotChecked:
        verdict.kind = EVerdict::NotChecked;
        break;
    case EPlausibility::Plausible:
        verdict.kind = EVerdict::Plausible;
        break;
    case EPlausibility::LooksRandom:
        verdict.kind = EVerdict::LooksRandom;
        break;
    case EPlausibility::TooShort:
        verdict.kind = EVerdict::TooShort;
        break;
    }
    verdict.strDescription = std::move(judged.strDescription);
    return verdict;
}

bool HasTemplate(const STemplate& tpl)
{
    return CoreTemplate(tpl).HasTemplate();
}

SPlan PlanBatch(const STemplate& tpl, const std::vector<std::string>& inputs)
{
    const SOutputTemplate coreTemplate = CoreTemplate(tpl);
    SPlan plan;
    plan.outputs.reserve(inputs.size());
    for (const std::string& strInput : inputs)
        plan.outputs.push_back(coreTemplate.BuildRelativeOutputPath(strInput));
    // As the desktop batch ranks them: replacing an input outweighs sharing an output.
    const std::vector<bool> replacesInput = FindOutputsNamingInputs(inputs, plan.outputs);
    const std::vector<bool> shared = FindSharedOutputs(plan.outputs);
    plan.verdicts.assign(inputs.size(), EPlanVerdict::Decrypt);
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        if (replacesInput[i])
            plan.verdicts[i] = EPlanVerdict::ReplacesInput;
        else if (shared[i])
            plan.verdicts[i] = EPlanVerdict::DuplicateOutput;
    }
    return plan;
}

std::string MessageText(EMessage message, const std::string& strPath, const std::string& strOutput)
{
    switch (message) {
    case EMessage::TemplateEmpty:
        return messages::kTemplateEmpty;
    case EMessage::Succeeded:
        return messages::kBatchSucceeded;
    case EMessage::Failed:
        return messages::kBatchFailed;
    case EMessage::Cancelled:
        return messages::kBatchCancelled;
    case EMessage::NotFound:
        return messages::FileNotFound(strPath);
    case EMessage::ReplacesInput:
        return messages::OutputWouldReplaceInput(strPath, strOutput);
    case EMessage::DuplicateOutput:
        return messages::OutputWouldBeWrittenTwice(strPath, strOutput);
    case EMessage::PasswordLooksWrong:
        return messages::PasswordLooksWrong(strPath);
    case EMessage::InputShrank:
        return messages::InputShrank(strPath, strOutput);
    case EMessage::DownloadTooLarge:
        return messages::DownloadTooLarge(strOutput);
    }
    return {};
}

} // namespace brasko::web
