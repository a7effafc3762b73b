#include "platform/game_window.hpp"

namespace pathlight {

void GameWindowChoice::Consider(const WindowCandidate& candidate) {
  const bool eligible =
      rule_ == GameWindowRule::kOwnerless ? !candidate.owned : candidate.clientWidth > kGameWindowMinClientWidth;
  const std::int64_t area = candidate.clientWidth * candidate.clientHeight;
  if (eligible && area > largest_) {
    chosen_ = candidate.window;
    largest_ = area;
  }
}

void* GameWindowChoice::Chosen() const {
  if (rule_ == GameWindowRule::kOwnerless && largest_ < kMinGameWindowArea) return nullptr;
  return chosen_;
}

void* ChooseGameWindow(std::span<const WindowCandidate> candidates, GameWindowRule rule) {
  GameWindowChoice choice(rule);
  for (const WindowCandidate& candidate : candidates) choice.Consider(candidate);
  return choice.Chosen();
}

}  // namespace pathlight
