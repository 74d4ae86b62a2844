// The plug-in is built for the Windows x86-64 Editor and player only. Other
// build targets get no native calls at all, so their player builds never look
// for a library that is not shipped. Outside the engine (the Mono tests) the
// calls are always compiled.
#if !UNITY_5_3_OR_NEWER || UNITY_EDITOR_WIN || (UNITY_STANDALONE_WIN && !UNITY_EDITOR)
#define ZV_NATIVE_PLUGIN
#endif

using System;
using System.Collections.Generic;
using System.Reflection;
using System.Runtime.InteropServices;

namespace ZVAudio.Output
{
    // Every entry point of the native plug-in, declared in one place. Each bool
    // result is one byte on the native side, so each carries MarshalAs(U1); the
    // default four-byte marshalling would read three bytes of garbage.
    internal static class ZVAudioOutputNative
    {
        internal const string LibraryName = "ZVAudioOutput";

#if ZV_NATIVE_PLUGIN
        internal static readonly bool IsSupported = true;

        [DllImport(LibraryName, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        [return: MarshalAs(UnmanagedType.U1)]
        internal static extern bool CreateAudioOutput();

        // bufferSize is the length of one platform buffer in frames, passed to the
        // platform as it stands; ignoredA and ignoredB are never read.
        [DllImport(LibraryName, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        [return: MarshalAs(UnmanagedType.U1)]
        internal static extern bool CreateOutputBuffer(uint bufferSize, uint channelCount,
                                                       uint sampleRate, uint ignoredA,
                                                       uint ignoredB, float formatHint,
                                                       uint bufferSeconds);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        [return: MarshalAs(UnmanagedType.U1)]
        internal static extern bool DestroyAudioOutput();

        // The array is blittable, so it is pinned and passed without a copy;
        // count may be smaller than data.Length but never larger.
        [DllImport(LibraryName, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        [return: MarshalAs(UnmanagedType.U1)]
        internal static extern bool OnUnityAudio(float[] data, int count);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        [return: MarshalAs(UnmanagedType.U1)]
        internal static extern bool GetAudioOutputStats(out ZVAudioOutputStats stats);

        // 0 switches latency control off; applies to the current stream and every later one.
        [DllImport(LibraryName, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        [return: MarshalAs(UnmanagedType.U1)]
        internal static extern bool SetAudioOutputLatencyTarget(uint milliseconds);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        [return: MarshalAs(UnmanagedType.U1)]
        internal static extern bool GetAudioOutputLatencyStats(out ZVAudioOutputLatencyStats stats);

        // Exports newer than the others, which an older library lacks: kept apart
        // so that Bind's Prelink does not require them, and called only when Bind
        // found them (HasLatencyLimits).
        internal static class Optional
        {
            // Fills as much of `limits` as both sides know (recordSize bytes) and
            // leaves the rest as it was.
            [DllImport(LibraryName, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
            [return: MarshalAs(UnmanagedType.U1)]
            internal static extern bool GetAudioOutputLatencyLimits(ref ZVAudioOutputLatencyLimits limits,
                                                                    uint recordSize);
        }

        // Finds a missing or out-of-date library now, once, and not later on the
        // audio thread or in every frame. Throws DllNotFoundException or
        // EntryPointNotFoundException.
        //
        // Both runtimes resolve a P/Invoke at its first call and throw there, so
        // the two queries an older library lacks are called where they change
        // nothing (without an instance they answer false). IL2CPP resolves each
        // call that way (libil2cpp vm/PlatformInvoke.cpp, PlatformInvoke::Resolve)
        // but does not implement Marshal.Prelink: it raises NotSupportedException
        // (libil2cpp icalls/mscorlib/System.Runtime.InteropServices/Marshal.cpp),
        // so Prelink, which checks every declaration at once, is for Mono only.
        //
        // The platform DLLs are preloaded first (PlatformLibraryPreload): the
        // runtimes' plain LoadLibraryW of the plug-in does not look beside it for
        // the DLLs it imports. A plug-in that cannot be loaded then names the
        // platform DLL that was missing and where it was looked for.
        internal static void Bind()
        {
            if (Win32LibraryLoader.IsAvailable)
                Bind(new PlatformLibraryPreload(new Win32LibraryLoader(), PlatformLibraryCandidates,
                                                System.IO.File.Exists),
                     BindPlugin);
            else
                BindPlugin();
        }

        private static void BindPlugin()
        {
#if !ENABLE_IL2CPP
            Prelink(typeof(ZVAudioOutputNative));
#endif
            ZVAudioOutputStats stats;
            GetAudioOutputStats(out stats);
            ZVAudioOutputLatencyStats latency;
            GetAudioOutputLatencyStats(out latency);
            HasLatencyLimits = Finds(() => {
                ZVAudioOutputLatencyLimits limits = new ZVAudioOutputLatencyLimits();
                Optional.GetAudioOutputLatencyLimits(ref limits, LatencyLimitsSize);
            });
        }
#else
        internal static readonly bool IsSupported = false;

        // Never called: AudioForwarder checks IsSupported first.
        internal static bool CreateAudioOutput() { throw new PlatformNotSupportedException(); }
        internal static bool CreateOutputBuffer(uint bufferSize, uint channelCount, uint sampleRate,
                                                uint ignoredA, uint ignoredB, float formatHint,
                                                uint bufferSeconds)
        {
            throw new PlatformNotSupportedException();
        }
        internal static bool DestroyAudioOutput() { throw new PlatformNotSupportedException(); }
        internal static bool OnUnityAudio(float[] data, int count) { throw new PlatformNotSupportedException(); }
        internal static bool GetAudioOutputStats(out ZVAudioOutputStats stats) { throw new PlatformNotSupportedException(); }
        internal static bool SetAudioOutputLatencyTarget(uint milliseconds) { throw new PlatformNotSupportedException(); }
        internal static bool GetAudioOutputLatencyStats(out ZVAudioOutputLatencyStats stats)
        {
            throw new PlatformNotSupportedException();
        }
        internal static void Bind() { throw new PlatformNotSupportedException(); }

        internal static class Optional
        {
            internal static bool GetAudioOutputLatencyLimits(ref ZVAudioOutputLatencyLimits limits, uint recordSize)
            {
                throw new PlatformNotSupportedException();
            }
        }
#endif

        // Where the project may hold a platform DLL, by its file name: set by the
        // component (the Editor's plug-in importers, or the player's plug-in
        // folders); none outside the engine.
        internal static Func<string, IList<string>> PlatformLibraryCandidates = file => new string[0];

        // Preloads the platform DLLs, then binds the plug-in with `bindPlugin`.
        internal static void Bind(PlatformLibraryPreload preload, Action bindPlugin)
        {
            PlatformLibraryPreload.Report report = preload.Run();
            try
            {
                bindPlugin();
            }
            catch (DllNotFoundException e)
            {
                string missing = report.Problems;
                if (missing == null)
                    throw;
                throw new DllNotFoundException(e.Message + " " + missing, e);
            }
        }

        // Whether the library has the optional exports; set by Bind, false before.
        internal static bool HasLatencyLimits { get; set; }

        internal static readonly uint LatencyLimitsSize = (uint)Marshal.SizeOf(typeof(ZVAudioOutputLatencyLimits));

        // Calls an optional export where it changes nothing (without an instance
        // it answers false): false when the library lacks it. Mono and IL2CPP both
        // throw EntryPointNotFoundException at the first call of a missing one
        // (libil2cpp vm/PlatformInvoke.cpp, PlatformInvoke::Resolve: "Unable to find
        // an entry point named ...").
        internal static bool Finds(Action call)
        {
            try
            {
                call();
                return true;
            }
            catch (EntryPointNotFoundException)
            {
                return false;
            }
        }

#if !ENABLE_IL2CPP
        // Resolves each P/Invoke declaration of `declarations`.
        internal static void Prelink(Type declarations)
        {
            foreach (MethodInfo method in declarations.GetMethods(BindingFlags.Static | BindingFlags.Public |
                                                                  BindingFlags.NonPublic))
            {
                if (method.IsDefined(typeof(DllImportAttribute), false))
                    Marshal.Prelink(method);
            }
        }
#endif
    }
}
