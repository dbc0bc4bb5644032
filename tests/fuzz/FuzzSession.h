#ifndef FUZZSESSION_H
#define FUZZSESSION_H

// What every fuzz target needs before its first input: an offscreen
// application and a scratch working directory for the driver log.
class FuzzSession
{
public:
    static void start(int *argc, char ***argv);
};

#endif // FUZZSESSION_H
