namespace ZVAudio.Output
{
    // The loader calls the platform DLLs' preload makes: kernel32 in the engine
    // (Win32LibraryLoader), a fake in the tests.
    public interface INativeLibraryLoader
    {
        // Full path of the module of that file name already in the process, or null.
        string LoadedPath(string fileName);

        // Loads the DLL at `fullPath`, its own dependencies looked for beside it;
        // 0, or the Win32 error.
        int LoadFrom(string fullPath);

        // Loads `fileName` through the standard search order; 0, or the Win32 error.
        int LoadFromSearchPath(string fileName);
    }
}
