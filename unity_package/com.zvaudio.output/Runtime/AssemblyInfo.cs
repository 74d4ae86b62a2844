using System.Runtime.CompilerServices;

// The package's own tests (Tests/Runtime) reach the seams that take a fake binding.
[assembly: InternalsVisibleTo("ZVAudio.Output.Tests")]
[assembly: InternalsVisibleTo("ZVAudio.Output.Editor.Tests")]
