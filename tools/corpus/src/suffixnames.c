/*
 * A module whose own function names end in the names it imports: it defines
 * game_init and hud_update and calls init and update of "engine.vkm". The
 * linker stores each imported name inside the longer name it ends.
 */

extern int init(int level);
extern void update(int frame);

int game_init(int level)
{
    return init(level) + 1;
}

void hud_update(int frame)
{
    update(frame);
}

void _start(void)
{
    hud_update(game_init(0));
}
