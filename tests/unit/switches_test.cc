#include "cmdline/switches.h"

#include <gtest/gtest.h>

#include <vector>

TEST(ClassifyArgument, SwitchLettersInEitherCaseAndPrefix) {
  EXPECT_EQ(ClassifyArgument("/I"), kSwitchInput);
  EXPECT_EQ(ClassifyArgument("-i"), kSwitchInput);
  EXPECT_EQ(ClassifyArgument("/o"), kSwitchOutput);
  EXPECT_EQ(ClassifyArgument("-W"), kSwitchWork);
  EXPECT_EQ(ClassifyArgument("/k"), kSwitchKeys);
  EXPECT_EQ(ClassifyArgument("-C"), kSwitchCaption);
  EXPECT_EQ(ClassifyArgument("/M"), kSwitchMerge);
  EXPECT_EQ(ClassifyArgument("/h"), kSwitchHelp);
  EXPECT_EQ(ClassifyArgument("-?"), kSwitchHelp);
  EXPECT_EQ(ClassifyArgument("--help"), kSwitchHelp);
  EXPECT_EQ(ClassifyArgument("/t"), kSwitchTab);
}

TEST(ClassifyArgument, DashWordsAreUnknownSwitchesSlashWordsArePaths) {
  EXPECT_EQ(ClassifyArgument("-in"), kUnknownSwitch);
  EXPECT_EQ(ClassifyArgument("--i"), kUnknownSwitch);
  EXPECT_EQ(ClassifyArgument("--HELP"), kUnknownSwitch);     // the long form in its one spelling
  EXPECT_EQ(ClassifyArgument("--version"), kUnknownSwitch);  // seen before the command line is read
  EXPECT_EQ(ClassifyArgument("-"), kUnknownSwitch);
  EXPECT_EQ(ClassifyArgument("-out.csv"), kUnknownSwitch);
  // An absolute path is a plain word, so it can be a switch's value.
  EXPECT_EQ(ClassifyArgument("/tmp/x.csv"), kPlainWord);
  EXPECT_EQ(ClassifyArgument("/in"), kPlainWord);
  EXPECT_EQ(ClassifyArgument("/"), kPlainWord);
  EXPECT_EQ(ClassifyArgument(""), kPlainWord);
  EXPECT_EQ(ClassifyArgument("in.csv"), kPlainWord);
}

TEST(TakeSwitch, TakesTheNextPlainWordAsValue) {
  std::vector<const char*> args = {"tarnsek", "/I", "/tmp/x.csv", "/K", "-2", "/C", "1"};
  char** argv = const_cast<char**>(args.data());
  int argc = static_cast<int>(args.size());

  int index = 1;
  CommandSwitch* input = TakeSwitch(&index, argc, argv);
  EXPECT_EQ(input->switchType, kSwitchInput);
  EXPECT_STREQ(input->value, "/tmp/x.csv");
  EXPECT_EQ(index, 2);

  // A value that begins with "-" is never taken.
  index = 3;
  CommandSwitch* keys = TakeSwitch(&index, argc, argv);
  EXPECT_EQ(keys->switchType, kSwitchKeys);
  EXPECT_EQ(keys->value, nullptr);
  EXPECT_EQ(index, 3);

  // /C takes no value; the word after it is recorded in its own turn.
  index = 5;
  CommandSwitch* caption = TakeSwitch(&index, argc, argv);
  EXPECT_EQ(caption->switchType, kSwitchCaption);
  EXPECT_EQ(caption->value, nullptr);
  EXPECT_EQ(index, 5);

  // The last argument: no value.
  index = 6;
  EXPECT_EQ(TakeSwitch(&index, argc, argv)->switchType, kPlainWord);
  index = 7;
  EXPECT_EQ(TakeSwitch(&index, argc, argv), nullptr);
}
